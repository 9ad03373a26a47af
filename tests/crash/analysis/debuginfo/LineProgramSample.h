#pragma once
// A DWARF 4 line program for one file (/src/a.cpp): rows at 0x401000 line 1, 0x401001 line 2
// (is_stmt cleared), 0x401011 line 7, and the end of the sequence at 0x401011.
#include <cstdint>
#include <vector>

inline std::vector<uint8_t> LineProgramSample() {
  return {
      58, 0, 0, 0,                                  // unit length
      4, 0,                                         // version
      34, 0, 0, 0,                                  // header length
      1, 1, 1, 0xFB, 14, 13,                        // min inst, max ops, is_stmt, line base -5, range, opcode base
      0, 1, 1, 1, 1, 0, 0, 0, 1, 0, 0, 1,           // standard opcode lengths
      '/', 's', 'r', 'c', 0, 0,                     // include directories
      'a', '.', 'c', 'p', 'p', 0, 1, 0, 0, 0,       // files
      0x00, 0x05, 0x02, 0x00, 0x10, 0x40, 0x00,     // set_address 0x401000
      0x12,                                         // special 18: adj 5 -> line +0, address +0
      0x06,                                         // negate_stmt
      0x21 + 0,                                     // special 33: adj 20 -> address +1, line +1
      0x02, 0x10,                                   // advance_pc 16
      0x03, 0x05,                                   // advance_line 5
      0x01,                                         // copy
      0x00, 0x01, 0x01,                             // end_sequence
  };
}
