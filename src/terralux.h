// terralux: start-up, the main loop, the rotation timer, input, the scene content, the drawing of
// each frame and picking on the globe.
#ifndef TERRALUX_TERRALUX_H
#define TERRALUX_TERRALUX_H

#include <atomic>

#include <GL/gl.h>
#include <GL/glext.h>
#include <SDL.h>
#include <SDL_mixer.h>

#include "point.h"
#include "properties.h"
#include "trace.h"

// The camera as three numbers: x the yaw and y the pitch in degrees, z the zoom (a larger z brings
// the globe nearer). Unbounded.
extern Point Camera;
extern T_GeoPointVector geoList;
extern T_TraceVector traces;
extern Properties config;

// Shared with SDL's timer thread: the light's angle in degrees (never wrapped), and the degrees
// it grows by on each 30 ms tick, which also scales the traces' travel per frame.
extern std::atomic<float> itime;
extern std::atomic<float> TIME_MOD;

extern bool musicIsOn;
extern bool soundsAreOn;
extern Mix_Music* music;
extern Mix_Chunk* sounds[2];  // [0] the hit sound, [1] the message sound

extern GLuint pointList;      // the markers
extern GLuint dispList;       // the last picked surface point; 0 until the first surface pick
extern GLuint texture_id[2];  // the Earth, the stars

extern const double fov;
extern const double near_plane;
extern const double far_plane;

int SDL_main(int argc, char** argv);
Uint32 onTimer(Uint32 x);

void gl_init(int w, int h);
void InitDisplayLists();
void InitTexture();
void gl_draw();
void sdl_events();

// Picking: the right button's press at window position (x, y), y growing downward.
void pick(int x, int y);
void getSelList(Line line);

#endif
