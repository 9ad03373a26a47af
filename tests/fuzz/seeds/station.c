/* A small Windows program whose build gives the fuzz seeds of the module readers: a PE32 exe and
   a DLL without the C run time (a few KB), the linker's map, a debug container, and code bytes of
   ordinary compiled C (loops, a jump table, floating point, calls through pointers). */
#include <windows.h>

typedef int (*reading_fn)(const short *, int);

static volatile int sink;

__declspec(noinline) int average(const short *values, int count) {
  int sum = 0;
  for (int i = 0; i < count; ++i)
    sum += values[i];
  return count ? sum / count : 0;
}

__declspec(noinline) int peak(const short *values, int count) {
  int best = -32768;
  for (int i = 0; i < count; ++i)
    if (values[i] > best)
      best = values[i];
  return best;
}

__declspec(noinline) double dew_point(double celsius, double humidity) {
  const double a = 17.27, b = 237.7;
  double g = a * celsius / (b + celsius) + humidity / 100.0 - 1.0;
  return b * g / (a - g);
}

__declspec(noinline) const char *direction(unsigned code) {
  switch (code) {
  case 0: return "N";
  case 1: return "NNE";
  case 2: return "NE";
  case 3: return "ENE";
  case 4: return "E";
  case 5: return "ESE";
  case 6: return "SE";
  case 7: return "SSE";
  case 8: return "S";
  case 9: return "SSW";
  case 10: return "SW";
  case 11: return "WSW";
  case 12: return "W";
  case 13: return "WNW";
  case 14: return "NW";
  case 15: return "NNW";
  default: return "?";
  }
}

__declspec(noinline) int checksum(const unsigned char *block, int size) {
  unsigned sum = 0;
  for (int i = 0; i < size; ++i)
    sum = (sum << 1 | sum >> 31) ^ block[i];
  return (int)sum;
}

#ifdef STATION_DLL
__declspec(dllexport) int __stdcall StationReading(const short *values, int count, int which) {
  static const reading_fn readers[] = {average, peak};
  return readers[which & 1](values, count) + (int)dew_point(values[0] / 10.0, 50.0);
}

BOOL WINAPI DllMainCRTStartup(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance, (void)reason, (void)reserved;
  return TRUE;
}
#else
void start(void) {
  static const reading_fn readers[] = {average, peak};
  short values[16];
  for (int i = 0; i < 16; ++i)
    values[i] = (short)(GetTickCount() % 400 - 100 + i);
  sink = readers[values[0] & 1](values, 16);
  sink += (int)dew_point(values[1] / 10.0, values[2] & 100);
  sink += direction((unsigned)values[3] & 15)[0];
  sink += checksum((const unsigned char *)values, (int)sizeof values);
  ExitProcess((UINT)sink & 0xFF);
}
#endif
