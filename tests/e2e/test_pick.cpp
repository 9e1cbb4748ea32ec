// Right-button picks on the real program: the surface point it prints against one computed here
// from the view's geometry, the blue point, the trace's new destination, and the two sounds,
// told apart by their tones in the output of SDL's disk audio driver. On Wayland they run at the
// output scales 1 and 2: a pick one pixel off the pixel clicked fails the printed point's check.
#include "scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace e2e;

const double kHitHz = 1320, kMessageHz = 440;

// The end of the magenta path farthest from the green head: the trace's destination.
std::optional<std::pair<double, double>> pathEnd(const Image& image) {
    auto head = centroid(image, isGreen);
    if (!head) return std::nullopt;
    std::optional<std::pair<double, double>> end;
    double farthest = -1;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            if (!isMagenta(image.at(x, y))) continue;
            double d = std::hypot(x + 0.5 - head->first, y + 0.5 - head->second);
            if (d > farthest) {
                farthest = d;
                end = std::make_pair(x + 0.5, y + 0.5);
            }
        }
    }
    return end;
}

// The point of the globe that a pick at window pixel (x, y) meets: the line through that window
// position (rows counted from the bottom as the viewport height minus y) from the eye, in the
// marker frame; (0, 0, 0) when it misses.
Vec3 expectedSurfacePoint(const View& view, int x, int y) {
    double f = focalPixels(view);
    Vec3 dir{(x - view.width / 2.0) / f, (view.height / 2.0 - y) / f, -1};
    Vec3 a = eyeToMarker(view, {0, 0, 0});
    Vec3 b = eyeToMarker(view, {dir.x * 100, dir.y * 100, dir.z * 100});
    return sphereHit(a, b, 15).value_or(Vec3{});
}

std::pair<int, int> pixelOf(const View& view, double lat, double lon, double alt) {
    auto [x, y] = project(view, scenePoint(lat, lon, alt));
    return {int(x), int(y)};
}

struct Session {
    std::string dir, raw;
    Program program;
    WinId window = 0;
    size_t lines = 0;  // "surface point: " lines read so far
};

Session start(const std::string& name, bool sounds) {
    Session s;
    s.dir = makeRunDir(name);
    writeConfig(s.dir, withSetting(defaultConfig(), "sounds", sounds ? "1" : "0"));
    writeTestTextures(s.dir, false);
    linkBuildData(s.dir, "audio", {"hit.wav", "message.wav"});
    writeToneWav(s.dir + "/audio/hit.wav", kHitHz, 0.4);
    writeToneWav(s.dir + "/audio/message.wav", kMessageHz, 0.4);
    s.raw = s.dir + "/../audio.raw";
    s.program = launch(s.dir, diskAudio(s.raw));
    auto window = findWindow(s.program);
    if (!window) {
        ADD_FAILURE() << "no window; stderr: " << stderrText(s.program);
        return s;
    }
    s.window = *window;
    focus(s.window);
    screenshotWhen(s.window,
                   [](const Image& i) { return !i.empty() && centroid(i, isGreen).has_value(); });
    key("5");  // the trace's head creeps, so that it stays well away from every destination
    return s;
}

// Right-clicks at (x, y) and returns the coordinates of the line the pick printed.
std::optional<Vec3> pick(Session& s, int x, int y) {
    mouseMove(s.window, x, y);
    click(3);
    for (int i = 0; i < 100; ++i) {
        std::vector<std::string> lines = splitLines(stdoutText(s.program));
        if (lines.size() > s.lines) {
            std::string line = lines[s.lines++];
            const std::string prefix = "surface point: ";
            EXPECT_EQ(line.rfind(prefix, 0), 0u) << line;
            std::istringstream in(line.substr(prefix.size()));
            Vec3 p;
            std::string rest;
            if (!(in >> p.x >> p.y >> p.z) || (in >> rest)) {
                ADD_FAILURE() << "not three numbers: " << line;
                return std::nullopt;
            }
            return p;
        }
        sleepSeconds(0.05);
    }
    ADD_FAILURE() << "no line printed for the pick at " << x << "," << y;
    return std::nullopt;
}

void expectPoint(const std::optional<Vec3>& got, Vec3 want, const std::string& what) {
    ASSERT_TRUE(got) << what;
    EXPECT_NEAR(got->x, want.x, 2e-3) << what;
    EXPECT_NEAR(got->y, want.y, 2e-3) << what;
    EXPECT_NEAR(got->z, want.z, 2e-3) << what;
}

double audioSeconds(const Session& s) { return readDiskAudio(s.raw).seconds(); }

struct Tones {
    double hit = 0, message = 0;
};

// The strongest level of each sound's tone in 0.1 s windows of the audio written since `from`.
Tones tonesSince(const Session& s, double from) {
    sleepSeconds(0.6);
    Pcm pcm = readDiskAudio(s.raw);
    Tones tones;
    for (double t = std::max(0.0, from - 0.5); t < pcm.seconds(); t += 0.05) {
        tones.hit = std::max(tones.hit, toneLevel(pcm, kHitHz, t, 0.1));
        tones.message = std::max(tones.message, toneLevel(pcm, kMessageHz, t, 0.1));
    }
    return tones;
}

void expectNear(const std::optional<std::pair<double, double>>& got, std::pair<double, double> want,
                double tolerance, const std::string& what) {
    ASSERT_TRUE(got) << what << ": not found";
    EXPECT_NEAR(got->first, want.first, tolerance) << what;
    EXPECT_NEAR(got->second, want.second, tolerance) << what;
}

TEST(Pick, SurfacePointsBluePointTraceAndSounds) {
    Session s = start("pick", true);
    ASSERT_TRUE(s.window);
    View view;
    const double loud = 0.15, quiet = 0.03;

    // The window's centre: on the globe, away from every marker.
    double from = audioSeconds(s);
    expectPoint(pick(s, 400, 300), expectedSurfacePoint(view, 400, 300), "centre");
    Tones tones = tonesSince(s, from);
    EXPECT_GT(tones.message, loud) << "no message sound";
    EXPECT_LT(tones.hit, quiet) << "hit sound on a surface pick";
    Image shot = screenshot(s.window);
    savePng(shot, s.dir + "/../pick-centre.png");
    expectNear(centroid(shot, isBlue), {400, 300}, 1.5, "blue point after the centre pick");
    expectNear(pathEnd(shot), {400, 300}, 3, "trace's end after the centre pick");

    // Off the globe and every marker: the line, and nothing else.
    from = audioSeconds(s);
    expectPoint(pick(s, 30, 30), Vec3{}, "off the globe");
    tones = tonesSince(s, from);
    EXPECT_LT(tones.message, quiet) << "message sound on a miss";
    EXPECT_LT(tones.hit, quiet) << "hit sound on a miss";
    shot = screenshot(s.window);
    expectNear(centroid(shot, isBlue), {400, 300}, 1.5, "blue point after the miss");
    expectNear(pathEnd(shot), {400, 300}, 3, "trace's end after the miss");

    // The bare globe south-east of the centre: the blue point and the trace's end move there.
    auto [gx, gy] = pixelOf(view, -20, 25, 0);
    from = audioSeconds(s);
    expectPoint(pick(s, gx, gy), expectedSurfacePoint(view, gx, gy), "bare globe");
    tones = tonesSince(s, from);
    EXPECT_GT(tones.message, loud) << "no message sound";
    EXPECT_LT(tones.hit, quiet) << "hit sound on a surface pick";
    shot = screenshot(s.window);
    expectNear(centroid(shot, isBlue), {gx, gy}, 1.5, "blue point after the globe pick");
    expectNear(pathEnd(shot), {gx, gy}, 3, "trace's end after the globe pick");

    // The marker just above the surface at 49.28 N 17.27 E: the hit sound, the trace turns to
    // it, the blue point stays.
    auto [mx, my] = project(view, scenePoint(49.28, 17.27, 300));
    from = audioSeconds(s);
    expectPoint(pick(s, int(mx), int(my)), expectedSurfacePoint(view, int(mx), int(my)), "marker");
    tones = tonesSince(s, from);
    EXPECT_GT(tones.hit, loud) << "no hit sound";
    EXPECT_LT(tones.message, quiet) << "message sound on a marker pick";
    shot = screenshot(s.window);
    savePng(shot, s.dir + "/../pick-marker.png");
    expectNear(centroid(shot, isBlue), {gx, gy}, 1.5, "blue point after the marker pick");
    expectNear(pathEnd(shot), {mx, my}, 3, "trace's end after the marker pick");

    key("q");
    EXPECT_EQ(waitExit(s.program), 0);
}

TEST(Pick, WithSoundsOffPicksAreSilent) {
    Session s = start("pick-silent", false);
    ASSERT_TRUE(s.window);
    View view;
    auto [gx, gy] = pixelOf(view, -20, 25, 0);
    auto [mx, my] = pixelOf(view, 49.28, 17.27, 300);
    expectPoint(pick(s, gx, gy), expectedSurfacePoint(view, gx, gy), "bare globe");
    expectPoint(pick(s, mx, my), expectedSurfacePoint(view, mx, my), "marker");
    sleepSeconds(0.6);
    Image shot = screenshot(s.window);
    expectNear(centroid(shot, isBlue), {gx, gy}, 1.5, "blue point");
    expectNear(pathEnd(shot), {mx + 0.5, my + 0.5}, 3, "trace's end");
    Pcm pcm = readDiskAudio(s.raw);
    EXPECT_GT(pcm.seconds(), 5.0) << "the audio device wrote too little";
    EXPECT_EQ(rmsLevel(pcm, 0, pcm.seconds()), 0.0);
    key("q");
    EXPECT_EQ(waitExit(s.program), 0);
}

}  // namespace
