// The program's entry point: an ordinary main that hands over to the main module.
#include "terralux.h"

int main(int argc, char** argv) { return SDL_main(argc, argv); }
