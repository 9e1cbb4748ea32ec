// The picture the real program draws, read back pixel by pixel and compared with where the
// scene's geometry puts things: the star backdrop, the globe's texture the right way round, the
// circling light and its speed keys, the markers, the moving trace, wire-frame drawing and the
// camera's turn and zoom.
#include "scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cmath>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace e2e;

bool near(Rgb c, int r, int g, int b, int tolerance) {
    return std::abs(c.r - r) <= tolerance && std::abs(c.g - g) <= tolerance &&
           std::abs(c.b - b) <= tolerance;
}

// The backdrop: the grey star image at half brightness.
bool isBackdrop(Rgb c) { return near(c, kStarsGrey / 2, kStarsGrey / 2, kStarsGrey / 2, 4); }

bool frameShown(const Image& image) {
    return !image.empty() && isBackdrop(image.at(1, 1)) &&
           hueOf(image.at(image.width / 2, image.height / 2)) != Hue::Other;
}

struct Running {
    std::string dir;
    Program program;
    WinId window = 0;
    Image first;  // the first complete frame
};

// Starts the program with the test textures in a window of the given size and waits for its
// first frame.
Running start(const std::string& name, int width, int height, bool topFirst = false) {
    Running run;
    Config config = withSetting(defaultConfig(), "window_Width", std::to_string(width).c_str());
    config = withSetting(config, "window_Height", std::to_string(height).c_str());
    run.dir = makeRunDir(name);
    writeConfig(run.dir, config);
    writeTestTextures(run.dir, topFirst);
    linkBuildData(run.dir, "audio");
    run.program = launch(run.dir);
    auto window = findWindow(run.program);
    if (!window) {
        ADD_FAILURE() << "no window; stderr: " << stderrText(run.program);
        return run;
    }
    run.window = *window;
    focus(run.window);
    run.first = screenshotWhen(run.window, frameShown);
    EXPECT_TRUE(frameShown(run.first)) << "no frame drawn";
    return run;
}

// Presses each key of a space-separated list in turn.
void keys(const std::string& names) {
    std::istringstream in(names);
    for (std::string name; in >> name;) key(name);
}

void quit(Running& run) {
    key("q");
    EXPECT_EQ(waitExit(run.program), 0);
}

void keep(const Image& image, const Running& run, const std::string& name) {
    savePng(image, run.dir + "/../" + name + ".png");
}

// Where a surface point of the globe lands, if it faces the viewer squarely enough to be judged.
std::optional<std::pair<int, int>> visiblePixel(const View& view, double lat, double lon) {
    Vec3 p = scenePoint(lat, lon, 0);
    Vec3 e = markerToEye(view, p);
    Vec3 c = markerToEye(view, {});
    Vec3 n{(e.x - c.x) / 15, (e.y - c.y) / 15, (e.z - c.z) / 15};
    double facing = -(n.x * e.x + n.y * e.y + n.z * e.z) / length(e);
    if (facing < 0.35) return std::nullopt;
    auto [x, y] = project(view, p);
    return std::make_pair(int(std::floor(x)), int(std::floor(y)));
}

// The demonstration trace's path, from its source to its destination, as window positions:
// along the great circle, the radius changing evenly.
std::vector<std::pair<double, double>> tracePath(const View& view, int samples = 400) {
    Vec3 s = scenePoint(49.28, 17.27, 1.2e6), d = scenePoint(0, -45, 5e5);
    double rs = length(s), rd = length(d);
    Vec3 us{s.x / rs, s.y / rs, s.z / rs}, ud{d.x / rd, d.y / rd, d.z / rd};
    double omega = std::acos(us.x * ud.x + us.y * ud.y + us.z * ud.z);
    std::vector<std::pair<double, double>> path;
    for (int k = 0; k <= samples; ++k) {
        double f = double(k) / samples;
        double a = std::sin((1 - f) * omega) / std::sin(omega),
               b = std::sin(f * omega) / std::sin(omega);
        double r = rs + (rd - rs) * f;
        path.push_back(project(view, {r * (a * us.x + b * ud.x), r * (a * us.y + b * ud.y),
                                      r * (a * us.z + b * ud.z)}));
    }
    return path;
}

// Index of the path sample nearest to (x, y), and the distance to it.
std::pair<int, double> nearestOnPath(const std::vector<std::pair<double, double>>& path, double x,
                                     double y) {
    int best = 0;
    double bestDist = 1e9;
    for (int i = 0; i < int(path.size()); ++i) {
        double d = std::hypot(path[i].first - x, path[i].second - y);
        if (d < bestDist) {
            bestDist = d;
            best = i;
        }
    }
    return {best, bestDist};
}

// ---- Backdrop and texture orientation --------------------------------------------------------

struct OrientationCase {
    std::string name;
    int width, height;
    bool topFirst;
};

void PrintTo(const OrientationCase& c, std::ostream* os) { *os << c.name; }

class Orientation : public ::testing::TestWithParam<OrientationCase> {};

TEST_P(Orientation, BackdropAtHalfBrightnessAndGlobeNorthUpEastRight) {
    const OrientationCase& c = GetParam();
    Running run = start("orientation-" + c.name, c.width, c.height, c.topFirst);
    ASSERT_TRUE(run.window);
    const Image& shot = run.first;
    keep(shot, run, "orientation");
    ASSERT_EQ(shot.width, c.width);

    // The backdrop fills the window to its corners and edges, at half the stars' brightness.
    for (auto [x, y] : {std::pair{0, 0},
                        {c.width - 1, 0},
                        {0, c.height - 1},
                        {c.width - 1, c.height - 1},
                        {c.width / 2, 0},
                        {0, c.height / 2}}) {
        Rgb p = shot.at(x, y);
        EXPECT_TRUE(isBackdrop(p))
            << "at " << x << "," << y << ": " << int(p.r) << " " << int(p.g) << " " << int(p.b);
    }

    // Each region of the test Earth shows where its latitude and longitude project: north up,
    // east to the right, longitude 0 (the grey band) facing the viewer.
    View view{c.width, c.height};
    int checked = 0;
    for (double lat : {-40.0, -15.0, 15.0, 35.0}) {
        for (double lon : {-60.0, -25.0, 0.0, 25.0, 60.0}) {
            auto pixel = visiblePixel(view, lat, lon);
            if (!pixel) continue;
            Rgb want = testEarth(lat, lon);
            Rgb got = shot.at(pixel->first, pixel->second);
            EXPECT_EQ(hueOf(got), hueOf(want))
                << "lat " << lat << " lon " << lon << " at " << pixel->first << "," << pixel->second
                << ": " << int(got.r) << " " << int(got.g) << " " << int(got.b);
            ++checked;
        }
    }
    EXPECT_GE(checked, 8);
    quit(run);
}

INSTANTIATE_TEST_SUITE_P(Images, Orientation,
                         ::testing::Values(OrientationCase{"BottomFirst800x600", 800, 600, false},
                                           OrientationCase{"TopFirstWide960x400", 960, 400, true}),
                         [](const auto& info) { return info.param.name; });

// ---- The circling light ----------------------------------------------------------------------

// The light's angle on its circuit, from the shading of the globe in the default view. A globe
// pixel shows its texture colour times min(1, 0.14 + 1.2 n.l): ambient 0.5 x 0.2 plus the
// global 0.2 x 0.2, and diffuse 1.5 x 0.8. The light circles in the horizontal plane, at
// direction (cos a, 0, sin a) in eye coordinates, so the unclamped pixels give cos a and sin a
// by least squares.
std::optional<double> lightAngle(const Image& image, const View& view) {
    double f = focalPixels(view);
    double scc = 0, scs = 0, sss = 0, sdc = 0, sds = 0;
    int n = 0;
    for (int y = 0; y < image.height; y += 3) {
        for (int x = 0; x < image.width; x += 3) {
            Rgb p = image.at(x, y);
            Hue hue = hueOf(p);
            if (hue == Hue::Other || hue == Hue::Grey) continue;
            double level = std::max({p.r, p.g, p.b}) / double(kEarthMax);
            if (level < 0.25 || level > 0.9) continue;
            Vec3 dir{(x + 0.5 - view.width / 2.0) / f, (view.height / 2.0 - y - 0.5) / f, -1};
            Vec3 centre{0, 0, view.zoom - 50};
            auto hit = sphereHit({-centre.x, -centre.y, -centre.z},
                                 {dir.x - centre.x, dir.y - centre.y, dir.z - centre.z}, 15);
            if (!hit) continue;
            double nx = hit->x / 15, nz = hit->z / 15, d = (level - 0.14) / 1.2;
            scc += nx * nx;
            scs += nx * nz;
            sss += nz * nz;
            sdc += d * nx;
            sds += d * nz;
            ++n;
        }
    }
    double det = scc * sss - scs * scs;
    if (n < 200 || std::abs(det) < 1e-9) return std::nullopt;
    double c = (sdc * sss - sds * scs) / det, s = (sds * scc - sdc * scs) / det;
    return std::atan2(s, c) * 180 / kPi;
}

struct Reading {
    Image image;
    double seconds;  // since the test's clock started
    double angle;
};

TEST(Light, CirclesAtTheSpeedTheKeysSetWhileTheTextureStays) {
    Running run = start("light", 800, 600);
    ASSERT_TRUE(run.window);
    View view;
    auto t0 = std::chrono::steady_clock::now();
    auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    };
    // A screenshot shows the frame of the moment it is asked for: XGetImage copies the window at
    // once, and grim has the compositor copy its output within its first 0.1 s, then spends up to
    // 0.4 s more (seen on a loaded machine) converting and writing the picture. The readings are
    // timed from those moments.
    auto read = [&]() {
        Reading r;
        r.seconds = elapsed();
        r.image = screenshot(run.window);
        auto angle = lightAngle(r.image, view);
        EXPECT_TRUE(angle) << "light not measurable";
        r.angle = angle.value_or(0);
        return r;
    };

    // 5: 0.1 degrees a tick of 30 ms, 3.3 degrees a second.
    key("5");
    sleepSeconds(0.2);
    Reading a = read();
    sleepSeconds(a.seconds + 2.5 - elapsed());
    Reading b = read();
    double slow = (b.angle - a.angle) / (b.seconds - a.seconds);
    EXPECT_NEAR(slow, 0.1 / 0.03, 1.0) << "angles " << a.angle << " then " << b.angle << " after "
                                       << b.seconds - a.seconds << " s";

    // 8: 3 degrees a tick, 100 degrees a second, from the frame that takes the key.
    key("8");
    sleepSeconds(0.2);
    Reading c = read();
    // Half a second turns the light by 50 degrees: a longer wait let it reach the globe's far
    // side, which leaves nothing lit to measure.
    sleepSeconds(c.seconds + 0.5 - elapsed());
    Reading d = read();
    key("5");
    double turn = std::remainder(d.angle - c.angle, 360.0);
    double fast = turn / (d.seconds - c.seconds);
    EXPECT_NEAR(fast, 3 / 0.03, 25) << "angles " << c.angle << " then " << d.angle << " after "
                                    << d.seconds - c.seconds << " s";
    // Whatever the tick, 8 turns it 30 times as fast as 5.
    EXPECT_NEAR(fast / slow, 30, 8);
    keep(a.image, run, "light-a");
    keep(d.image, run, "light-d");

    // The lit half has moved, the texture has not: every globe pixel keeps its hue.
    int same = 0, judged = 0;
    double change = 0;
    for (int y = 100; y < 500; y += 4) {
        for (int x = 200; x < 600; x += 4) {
            Hue ha = hueOf(a.image.at(x, y)), hd = hueOf(d.image.at(x, y));
            if (ha == Hue::Other || hd == Hue::Other || isBackdrop(a.image.at(x, y))) continue;
            ++judged;
            same += ha == hd;
            auto level = [](Rgb p) { return std::max({p.r, p.g, p.b}) / double(kEarthMax); };
            change += std::abs(level(a.image.at(x, y)) - level(d.image.at(x, y)));
        }
    }
    ASSERT_GT(judged, 1000);
    EXPECT_GE(same, judged * 97 / 100) << same << " of " << judged << " kept their hue";
    EXPECT_GT(change / judged, 0.1) << "the shading hardly changed";
    quit(run);
}

// ---- Markers and the trace -------------------------------------------------------------------

TEST(Scene, MarkersAndTraceWhereTheGeometryPutsThemAndTheHeadAdvances) {
    Running run = start("scene", 800, 600);
    ASSERT_TRUE(run.window);
    View view;
    auto path = tracePath(view);
    const int last = int(path.size()) - 1;

    int previous = -1;
    Image shot;
    std::pair<double, double> head;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) sleepSeconds(0.7);
        shot = screenshot(run.window);
        auto green = centroid(shot, isGreen);
        ASSERT_TRUE(green) << "no trace head in shot " << i;
        head = *green;
        auto [at, off] = nearestOnPath(path, head.first, head.second);
        EXPECT_LT(off, 3.0) << "head at " << head.first << "," << head.second << " off the path";
        EXPECT_GT(at, previous) << "the head did not advance in shot " << i;
        EXPECT_LT(at, last) << "the head has already arrived";
        previous = at;

        // The magenta path runs from the head to the destination, and only there.
        int ahead = 0, covered = 0, stray = 0;
        for (int y = 0; y < shot.height; ++y) {
            for (int x = 0; x < shot.width; ++x) {
                if (!isMagenta(shot.at(x, y))) continue;
                auto [k, d] = nearestOnPath(path, x + 0.5, y + 0.5);
                stray += d > 2.5 || k < at - 4;
            }
        }
        for (int k = at + 8; k < last - 4; k += 4) {
            ++ahead;
            covered += countAround(shot, path[k].first, path[k].second, 1, isMagenta) > 0;
        }
        EXPECT_EQ(stray, 0) << "magenta pixels off the path ahead of the head, shot " << i;
        EXPECT_GE(covered, ahead * 95 / 100) << covered << " of " << ahead << ", shot " << i;
    }
    keep(shot, run, "scene");

    // Markers: yellow where they project, unless the globe hides them or the head covers them.
    const double marks[5][3] = {
        {49.28, 17.27, 300}, {49.28, 17.27, 1.2e6}, {45, 90, 1e4}, {0, -45, 5e5}, {-45, 90, 1e4}};
    Vec3 eye = eyeToMarker(view, {});
    int seen = 0;
    for (const auto& m : marks) {
        Vec3 p = scenePoint(m[0], m[1], m[2]);
        auto [x, y] = project(view, p);
        auto hit = sphereHit(eye, p, 15);
        double toPoint = length({p.x - eye.x, p.y - eye.y, p.z - eye.z});
        bool inFront =
            !hit || length({hit->x - eye.x, hit->y - eye.y, hit->z - eye.z}) > toPoint - 0.01;
        double rim = diskRadius(view) - std::hypot(x - 400, y - 300);
        if (std::hypot(x - head.first, y - head.second) < 9) continue;
        int yellow = countAround(shot, x, y, 2, isYellow);
        if (inFront) {
            EXPECT_GE(yellow, 15) << "marker at " << m[0] << "," << m[1] << " missing at " << x
                                  << "," << y;
            ++seen;
        } else if (rim > 8) {
            EXPECT_EQ(yellow, 0) << "hidden marker at " << m[0] << "," << m[1] << " drawn";
        }
    }
    EXPECT_GE(seen, 2);
    quit(run);
}

// ---- Wire frame, turning and zooming ---------------------------------------------------------

// What the picture says about the view: the disk's radius on the row through its centre, the
// column of the grey band at latitude -20 and the row of the equator at longitude 25.
struct Measured {
    double radius = 0, bandX = 0, equatorY = 0;
};

Measured measure(const Image& image, const View& view) {
    Measured m;
    int row = image.height / 2;
    int left = 0, right = image.width - 1;
    while (left < image.width && isBackdrop(image.at(left, row))) ++left;
    while (right > 0 && isBackdrop(image.at(right, row))) --right;
    m.radius = (right - left + 1) / 2.0;

    auto [bx, by] = project(view, scenePoint(-20, 0, 0));
    double sum = 0;
    int n = 0;
    for (int x = int(bx) - 60; x <= int(bx) + 60; ++x) {
        if (hueOf(image.at(x, int(by))) != Hue::Grey) continue;
        sum += x + 0.5;
        ++n;
    }
    m.bandX = n ? sum / n : -1;

    auto [ex, ey] = project(view, scenePoint(0, 25, 0));
    int lastRed = -1, firstBlue = -1;
    for (int y = int(ey) - 40; y <= int(ey) + 40; ++y) {
        Hue h = hueOf(image.at(int(ex), y));
        if (h == Hue::Red) lastRed = y;
        if (h == Hue::Blue && firstBlue < 0) firstBlue = y;
    }
    m.equatorY = (lastRed + 1 + firstBlue) / 2.0;
    return m;
}

// What the view should measure: the band's middle halfway between its edges, 4 degrees either
// side of longitude 0.
Measured expected(const View& view) {
    double bx =
        (project(view, scenePoint(-20, -4, 0)).first + project(view, scenePoint(-20, 4, 0)).first) /
        2;
    return {diskRadius(view), bx, project(view, scenePoint(0, 25, 0)).second};
}

const Measured kViewTolerance = {2.5, 3.0, 2.0};

bool showsView(const Image& image, const View& view) {
    Measured m = measure(image, view), e = expected(view), t = kViewTolerance;
    return std::abs(m.radius - e.radius) <= t.radius && std::abs(m.bandX - e.bandX) <= t.bandX &&
           std::abs(m.equatorY - e.equatorY) <= t.equatorY;
}

void expectView(const Image& image, const View& view, const std::string& step) {
    Measured m = measure(image, view), e = expected(view), t = kViewTolerance;
    EXPECT_NEAR(m.radius, e.radius, t.radius) << step;
    EXPECT_NEAR(m.bandX, e.bandX, t.bandX) << step;
    EXPECT_NEAR(m.equatorY, e.equatorY, t.equatorY) << step;
}

TEST(View, WireFrameSolidAndTheCameraTurnsAndZoomsAsTheInputSays) {
    Running run = start("view", 800, 600);
    ASSERT_TRUE(run.window);
    View view;
    expectView(run.first, view, "start");

    // Wire frame: the clear colour shows between the lines, inside the disk and at the corners.
    key("2");
    auto blackShare = [](const Image& image) {
        int black = 0, all = 0;
        for (int y = 150; y < 450; y += 3) {
            for (int x = 250; x < 550; x += 3) {
                Rgb p = image.at(x, y);
                black += p.r + p.g + p.b == 0;
                ++all;
            }
        }
        return double(black) / all;
    };
    Image wire = screenshotWhen(run.window, [](const Image& i) { return i.at(0, 0) == Rgb{}; });
    keep(wire, run, "wire");
    EXPECT_EQ(wire.at(0, 0), Rgb{});
    EXPECT_GT(blackShare(wire), 0.6);
    key("1");
    Image solid = screenshotWhen(run.window, [](const Image& i) { return isBackdrop(i.at(0, 0)); });
    EXPECT_TRUE(isBackdrop(solid.at(0, 0)));
    EXPECT_EQ(blackShare(solid), 0.0);

    // The program takes input in its next frames: on a loaded machine, seen to take over 0.3 s.
    auto check = [&](const std::string& step) {
        Image shot = screenshotWhen(run.window, [&](const Image& i) { return showsView(i, view); });
        keep(shot, run, "view-" + step);
        expectView(shot, view, step);
    };
    // Left turns +1 degree of yaw, Right -1; Up +1 degree of pitch, Down -1.
    keys("Left Left Left Left Left Left Left Left Left Left Up Up Up Up Up Up");
    view.yaw = 10;
    view.pitch = 6;
    check("arrows");
    keys("Right Right Right Right Down Down");
    view.yaw = 6;
    view.pitch = 4;
    check("arrows-back");
    // A left drag turns a degree a pixel while the zoom is at most 10.
    drag(run.window, 1, 300, 300, 312, 292, 4);
    view.yaw = 18;
    view.pitch = -4;
    check("left-drag");
    // Keypad plus and the wheel's up notches bring the globe a unit nearer each.
    keys("KP_Add KP_Add KP_Add KP_Add KP_Add");
    wheel(5);
    wheel(-2);
    keys("KP_Subtract KP_Subtract KP_Subtract");
    view.zoom = 5;
    check("zoom-keys-wheel");
    // A middle drag down by 10 pixels brings it 10 units nearer.
    drag(run.window, 2, 700, 100, 700, 110, 2);
    view.zoom = 15;
    check("middle-drag");
    // Nearer than 10 a drag turns half as fast; each move's remainder is dropped (7 / 2 = 3).
    drag(run.window, 1, 300, 300, 314, 300, 2);
    view.yaw = 24;
    check("slow-drag");
    quit(run);
}

}  // namespace
