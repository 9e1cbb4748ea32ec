// The main module's input handling, rotation timer and scene content, driven without a window:
// SDL's dummy video driver carries the event queue and OSMesa supplies the GL context.
#include <gtest/gtest.h>

#include <GL/osmesa.h>

#include <cmath>
#include <vector>

#include "terralux.h"

namespace {

class ShellTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER), 0) << SDL_GetError();
        ASSERT_NE(SDL_SetVideoMode(64, 64, 32, SDL_SWSURFACE), nullptr) << SDL_GetError();
        // Blue, green, red, alpha: OSMESA_RGBA has no usable framebuffer on a big-endian machine
        // under Mesa 22 (see tga_test_util.h).
        context = OSMesaCreateContextExt(OSMESA_BGRA, 16, 0, 0, nullptr);
        ASSERT_NE(context, nullptr);
        pixels.resize(64 * 64 * 4);
        ASSERT_TRUE(OSMesaMakeCurrent(context, pixels.data(), GL_UNSIGNED_BYTE, 64, 64));
    }
    static void TearDownTestSuite() {
        OSMesaDestroyContext(context);
        SDL_Quit();
    }
    void SetUp() override {
        Camera = Point();
        TIME_MOD = 0.5f;
        SDL_Event e;
        while (SDL_PollEvent(&e)) {
        }
    }

    static void key(SDLKey sym) {
        SDL_Event e = {};
        e.type = SDL_KEYDOWN;
        e.key.type = SDL_KEYDOWN;
        e.key.state = SDL_PRESSED;
        e.key.keysym.sym = sym;
        SDL_PushEvent(&e);
    }
    static void keyUp(SDLKey sym) {
        SDL_Event e = {};
        e.type = SDL_KEYUP;
        e.key.type = SDL_KEYUP;
        e.key.keysym.sym = sym;
        SDL_PushEvent(&e);
    }
    static void motion(Uint8 state, Sint16 xrel, Sint16 yrel) {
        SDL_Event e = {};
        e.type = SDL_MOUSEMOTION;
        e.motion.type = SDL_MOUSEMOTION;
        e.motion.state = state;
        e.motion.xrel = xrel;
        e.motion.yrel = yrel;
        SDL_PushEvent(&e);
    }
    static void button(Uint8 type, Uint8 which) {
        SDL_Event e = {};
        e.type = type;
        e.button.type = type;
        e.button.button = which;
        SDL_PushEvent(&e);
    }

    static OSMesaContext context;
    static std::vector<unsigned char> pixels;
};

OSMesaContext ShellTest::context = nullptr;
std::vector<unsigned char> ShellTest::pixels;

TEST_F(ShellTest, LeftDragTurnsByZoomDependentWholeSteps) {
    struct Case {
        float zoom;
        Sint16 xrel, yrel;
        float dx, dy;
    } cases[] = {
        {25, 7, 0, 1, 0},    {15, 7, 0, 3, 0},      {10, 7, 0, 7, 0},
        {-40, 7, -2, 7, -2}, {25, -3, 3, 0, 0},     {25, -5, 9, -1, 2},
        {20, 5, -5, 2, -2},  {20.5f, 5, -5, 1, -1}, {10.5f, -7, 7, -3, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.zoom);
        Camera = Point(0, 0, c.zoom);
        motion(SDL_BUTTON_LMASK, c.xrel, c.yrel);
        sdl_events();
        EXPECT_EQ(Camera.x, c.dx);
        EXPECT_EQ(Camera.y, c.dy);
        EXPECT_EQ(Camera.z, c.zoom);
    }
}

TEST_F(ShellTest, MouseZoomsWithWheelAndMiddleDragOnly) {
    motion(SDL_BUTTON_MMASK, 30, 4);  // middle drag: the vertical motion zooms, unscaled
    motion(SDL_BUTTON_LMASK | SDL_BUTTON_MMASK, 8, 8);  // both held: turns, does not zoom
    motion(SDL_BUTTON_RMASK, 50, 50);                   // right drag: nothing
    motion(0, 50, 50);                                  // no button: nothing
    button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_WHEELUP);
    button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_WHEELUP);
    button(SDL_MOUSEBUTTONUP, SDL_BUTTON_WHEELUP);  // releases do nothing
    button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_WHEELDOWN);
    button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT);
    button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_MIDDLE);
    sdl_events();
    // One call empties the whole queue: 4 from the middle drag, +2 -1 from the wheel.
    EXPECT_EQ(Camera.z, 5);
    EXPECT_EQ(Camera.x, 8);  // at zoom 4 the divisor is 1
    EXPECT_EQ(Camera.y, 8);
    SDL_Event e;
    EXPECT_EQ(SDL_PollEvent(&e), 0);
}

TEST_F(ShellTest, KeysTurnZoomAndSetTheSpeed) {
    for (SDLKey k : {SDLK_UP, SDLK_UP, SDLK_DOWN, SDLK_UP, SDLK_RIGHT, SDLK_LEFT, SDLK_LEFT,
                     SDLK_KP_PLUS, SDLK_KP_PLUS, SDLK_KP_MINUS, SDLK_KP_PLUS})
        key(k);
    keyUp(SDLK_UP);  // releases do nothing
    key(SDLK_PLUS);  // only the keypad zooms
    key(SDLK_MINUS);
    sdl_events();
    EXPECT_EQ(Camera.y, 2);
    EXPECT_EQ(Camera.x, 1);
    EXPECT_EQ(Camera.z, 2);

    struct {
        SDLKey key;
        float step;
    } speeds[] = {{SDLK_9, 5.0f}, {SDLK_5, 0.1f}, {SDLK_8, 3.0f}, {SDLK_7, 1.0f}, {SDLK_6, 0.5f}};
    for (auto s : speeds) {
        key(s.key);
        sdl_events();
        EXPECT_EQ(TIME_MOD.load(), s.step);
    }
    key(SDLK_9);
    for (SDLKey k : {SDLK_0, SDLK_3, SDLK_4, SDLK_KP5, SDLK_KP9, SDLK_a}) key(k);
    sdl_events();
    EXPECT_EQ(TIME_MOD.load(), 5.0f);  // the other digits and the keypad digits do nothing
}

TEST_F(ShellTest, DigitsOneAndTwoSwitchThePolygonMode) {
    GLint mode[2];
    key(SDLK_2);
    sdl_events();
    glGetIntegerv(GL_POLYGON_MODE, mode);
    EXPECT_EQ(mode[0], GL_LINE);
    EXPECT_EQ(mode[1], GL_LINE);
    key(SDLK_1);
    sdl_events();
    glGetIntegerv(GL_POLYGON_MODE, mode);
    EXPECT_EQ(mode[0], GL_FILL);
    EXPECT_EQ(mode[1], GL_FILL);
}

TEST_F(ShellTest, QuitKeysAndTheCloseRequestExitWithZero) {
    // A forked child would inherit a GL context without its worker threads: re-run instead.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (SDLKey k : {SDLK_ESCAPE, SDLK_q, SDLK_x}) {
        EXPECT_EXIT(
            {
                key(k);
                sdl_events();
                exit(3);
            },
            testing::ExitedWithCode(0), "");
    }
    EXPECT_EXIT(
        {
            SDL_Event e = {};
            e.type = SDL_QUIT;
            SDL_PushEvent(&e);
            sdl_events();
            exit(3);
        },
        testing::ExitedWithCode(0), "");
}

TEST_F(ShellTest, TimerAddsTheStepEveryThirtyMilliseconds) {
    itime = 10.0f;
    TIME_MOD = 3.0f;
    EXPECT_EQ(onTimer(30), 30u);  // SDL keeps a timer running at the interval it returns
    EXPECT_EQ(itime.load(), 13.0f);

    // Each tick adds the step in force at that tick. Over 0.6 s a steady 30 ms tick fires about
    // 20 times; a timer that fires one SDL slice early (every 20 ms or so) would fire about 30.
    TIME_MOD = 0.25f;
    SDL_SetTimer(30, onTimer);
    SDL_Delay(600);
    SDL_SetTimer(0, nullptr);
    float ticks = (itime.load() - 13.0f) / 0.25f;
    EXPECT_EQ(ticks, static_cast<int>(ticks));
    EXPECT_GE(ticks, 8);
    EXPECT_LE(ticks, 23);
}

TEST_F(ShellTest, PicksPrintTheSurfacePointAndRetargetTheFirstTrace) {
    const Line through_front(Point(0, 0, 50), Point(0, 0, -50));
    traces.clear();
    geoList.clear();

    // No trace: the line is printed and nothing else changes.
    testing::internal::CaptureStdout();
    getSelList(through_front);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "surface point: 0 0 15\n");
    EXPECT_EQ(dispList, 0u);

    traces.push_back(GeoTrace(GeoPoint(55, 10, 10, 0), GeoPoint(56, 20, 20, 0)));
    // A marker exactly 0.5 from the line is not picked; the globe beside it is.
    geoList.push_back(GeoPoint(7, 0, 0, 0));  // at (0, 0, 15)
    testing::internal::CaptureStdout();
    getSelList(Line(Point(0.5f, 0, 50), Point(0.5f, 0, -50)));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "surface point: 0.5 0 14.9917\n");
    const GLuint first = dispList;
    ASSERT_NE(first, 0u);
    EXPECT_TRUE(glIsList(first));
    EXPECT_EQ(traces[0].dest().id, 0u);
    EXPECT_NEAR(traces[0].dest().Latitude, 0, 1e-6);
    EXPECT_NEAR(traces[0].dest().Longtitude, std::atan2(0.5, 14.9917), 1e-5);

    // A second surface pick replaces the blue point's list and releases the old one.
    testing::internal::CaptureStdout();
    getSelList(Line(Point(3, 4, 50), Point(3, 4, -50)));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "surface point: 3 4 14.1421\n");
    EXPECT_NE(dispList, first);
    EXPECT_TRUE(glIsList(dispList));
    EXPECT_FALSE(glIsList(first));

    // A line through a marker on the near side retargets to it and leaves the blue point.
    const GLuint blue = dispList;
    testing::internal::CaptureStdout();
    getSelList(Line(Point(0, 0.2f, 50), Point(0, 0.2f, -50)));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(traces[0].dest().id, 7u);
    EXPECT_EQ(dispList, blue);
    EXPECT_TRUE(glIsList(blue));

    // The same marker seen through the globe from behind is not picked.
    testing::internal::CaptureStdout();
    getSelList(Line(Point(0, 0.2f, -50), Point(0, 0.2f, 50)));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(traces[0].dest().id, 0u);  // the far-side surface point instead
    EXPECT_GT(std::fabs(traces[0].dest().Longtitude), 3.1f);
}

TEST_F(ShellTest, SceneContentIsTheDemonstrationTraceAndFiveMarkers) {
    std::vector<GLfloat> feedback(256);
    glFeedbackBuffer(static_cast<GLsizei>(feedback.size()), GL_3D, feedback.data());
    glRenderMode(GL_FEEDBACK);
    InitDisplayLists();  // compiles the markers without drawing them
    EXPECT_EQ(glRenderMode(GL_RENDER), 0);

    ASSERT_EQ(traces.size(), 1u);
    EXPECT_EQ(traces[0].src().id, 55u);
    EXPECT_EQ(traces[0].dest().id, 56u);
    EXPECT_FLOAT_EQ(traces[0].dest().Longtitude, static_cast<float>(-45 * M_PI / 180));

    const unsigned ids[] = {0, 255, 1, 0, 2};
    const float lat[] = {49.28f, 49.28f, 45, 0, -45};
    const float lon[] = {17.27f, 17.27f, 90, -45, 90};
    const float alt[] = {300, 1200000, 10000, 500000, 10000};
    ASSERT_EQ(geoList.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(geoList[i].id, ids[i]);
        EXPECT_FLOAT_EQ(geoList[i].Latitude, static_cast<float>(lat[i] * M_PI / 180));
        EXPECT_FLOAT_EQ(geoList[i].Longtitude, static_cast<float>(lon[i] * M_PI / 180));
        EXPECT_EQ(geoList[i].Altitude, alt[i]);
    }

    // Called, the list draws one point per marker, wherever its geometry puts it.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-20, 20, -20, 20, -20, 20);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glViewport(0, 0, 64, 64);
    glFeedbackBuffer(static_cast<GLsizei>(feedback.size()), GL_3D, feedback.data());
    glRenderMode(GL_FEEDBACK);
    ASSERT_NE(pointList, 0u);
    glCallList(pointList);
    GLint used = glRenderMode(GL_RENDER);
    ASSERT_EQ(used, 5 * 4);
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(feedback[i * 4], GL_POINT_TOKEN);
        Point p = geoList[i].point();
        EXPECT_NEAR(feedback[i * 4 + 1], (p.x + 20) / 40 * 64, 1e-3);
        EXPECT_NEAR(feedback[i * 4 + 2], (p.y + 20) / 40 * 64, 1e-3);
    }
}

}  // namespace
