#pragma once
// The program's start-up order and message loop, shared by the real and the simulated build.
int RunTidewell();
