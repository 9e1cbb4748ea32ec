/* Prints the version of the SDL 1.2 runtime it runs on ("1.2.15"). Given "tone", it then opens
 * the mixer with the arguments terralux uses and plays a reference tone through it: 1000 Hz at
 * half of full scale, the same on both channels, for half a second. What the audio device makes
 * of that tone shows the rate and sample format it really writes. Given "window", it opens an
 * OpenGL window 320x240 pixels large, as terralux opens its own, captioned "terralux probe", and
 * keeps it shown until it is closed: the room it takes on the display shows how the runtime maps
 * a window's pixels there. Exit status 0 when done. */
#include <SDL.h>
#include <SDL_mixer.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

enum { kRate = 22050, kFrames = kRate / 2 };
static Sint16 tone[2 * kFrames];

int main(int argc, char** argv) {
    const SDL_version* v = SDL_Linked_Version();
    printf("%d.%d.%d\n", v->major, v->minor, v->patch);
    if (argc >= 2 && strcmp(argv[1], "window") == 0) {
        if (SDL_Init(SDL_INIT_VIDEO) < 0) return 1;
        SDL_WM_SetCaption("terralux probe", NULL);
        if (!SDL_SetVideoMode(320, 240, 0, SDL_OPENGL)) return 2;
        for (;;) {
            SDL_Event event;
            while (SDL_PollEvent(&event))
                if (event.type == SDL_QUIT) return 0;
            SDL_GL_SwapBuffers();
            SDL_Delay(20);
        }
    }
    if (argc < 2 || strcmp(argv[1], "tone") != 0) return 0;

    if (SDL_Init(SDL_INIT_AUDIO) < 0 || Mix_OpenAudio(kRate, AUDIO_S16LSB, 2, 4096) != 0) return 1;
    /* The chunk is handed over as it is: it must be in the mixer's own format. */
    int rate = 0, channels = 0;
    Uint16 format = 0;
    Mix_QuerySpec(&rate, &format, &channels);
    if (rate != kRate || format != AUDIO_S16LSB || channels != 2) return 2;
    for (int i = 0; i < kFrames; ++i) {
        tone[2 * i] = tone[2 * i + 1] = (Sint16)lround(16384 * sin(2 * M_PI * 1000.0 * i / kRate));
    }
    Mix_Chunk* chunk = Mix_QuickLoad_RAW((Uint8*)tone, sizeof tone);
    if (!chunk || Mix_PlayChannel(-1, chunk, 0) < 0) return 3;
    while (Mix_Playing(-1)) SDL_Delay(10);
    SDL_Delay(200); /* the last buffers reach the device */
    Mix_CloseAudio();
    SDL_Quit();
    return 0;
}
