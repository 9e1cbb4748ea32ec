// The program's entry point. Where SDL's header renames main to SDL_main (on Windows), SDL's own
// entry point, WinMain in SDLmain, calls SDL_main, and this file adds nothing.
#include "terralux.h"

#ifndef main
int main(int argc, char** argv) { return SDL_main(argc, argv); }
#endif
