// What the tests expect to see, worked out independently of the program: the scene's geometry
// seen through the camera, the test textures and the colours that tell the scene's parts apart.
#pragma once

#include "harness.h"

#include <cmath>
#include <optional>
#include <string>
#include <utility>

namespace e2e {

// ---- The scene's geometry, computed independently of the program -------------------------------

struct Vec3 {
    double x = 0, y = 0, z = 0;
};
inline double length(Vec3 v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

// The scene point of a place: radius (alt + 6.5e6) * 15 / 6.5e6, +y north, longitude 0 on +z,
// longitude +90 on +x.
Vec3 scenePoint(double latDeg, double lonDeg, double altMetres);

// The camera and window: perspective of 45 degrees vertical, near 1, far 250; the globe 50 - zoom
// in front of the eye, turned by pitch about x and then by yaw about y. Geographic positions
// live in the marker frame, the camera frame turned a further 15 degrees about x.
struct View {
    int width = 800, height = 600;
    double yaw = 0, pitch = 0, zoom = 0;
};
// The distance from the eye to the window's plane, in pixels: half the height over tan 22.5 deg.
double focalPixels(const View& view);
Vec3 markerToEye(const View& view, Vec3 p);
Vec3 eyeToMarker(const View& view, Vec3 e);
// Window position of a marker-frame point, from the window's top-left corner, in pixels
// (pixel (i, j) covers [i, i + 1) x [j, j + 1)).
std::pair<double, double> project(const View& view, Vec3 p);
// The nearer crossing of the line through a and b with the sphere of the given radius about the
// origin, if they meet.
std::optional<Vec3> sphereHit(Vec3 a, Vec3 b, double radius);
// Pixels from the disk centre to the rim of the globe (radius 15) in the view.
double diskRadius(const View& view);

// ---- The test textures -------------------------------------------------------------------------

// A test Earth in plain colours whose every component is a multiple of 17 (kept exactly by the
// program's 4-bit texture formats) and at most 204, so that no lit globe pixel reaches the
// full-intensity colours of the markers, the trace and the picked point: north-east red,
// north-west green, south-east blue, south-west cyan, and a grey band along longitude 0, 4
// degrees either side.
Rgb testEarth(double latDeg, double lonDeg);
constexpr int kEarthMax = 204;   // the largest component of testEarth
constexpr int kStarsGrey = 204;  // every pixel of the test star image
// Writes textures/earth.tga (512x256, testEarth as an equirectangular map, longitude -180 at the
// left, north at the top) and textures/stars.tga (16x16, uniform grey) into the run dir, as
// uncompressed 24-bit TGAs with rows stored top first (descriptor 0x20) or bottom first (0x00).
void writeTestTextures(const std::string& dir, bool topFirst);

// The scene's unlit full-intensity colours, which no pixel of the test Earth reaches.
inline bool isYellow(Rgb c) { return c.r > 230 && c.g > 230 && c.b < 40; }   // markers
inline bool isGreen(Rgb c) { return c.r < 40 && c.g > 230 && c.b < 40; }     // trace head
inline bool isMagenta(Rgb c) { return c.r > 230 && c.g < 40 && c.b > 230; }  // trace path
inline bool isBlue(Rgb c) { return c.r < 40 && c.g < 40 && c.b > 230; }      // picked point

// The centre of the pixels that pass `test` (pixel centres at +0.5), if any.
std::optional<std::pair<double, double>> centroid(const Image& image, bool (*test)(Rgb));
// The number of pixels passing `test` in the square of half-width `half` around (x, y).
int countAround(const Image& image, double x, double y, int half, bool (*test)(Rgb));

enum class Hue { Other, Red, Green, Blue, Cyan, Grey };
// The hue class of a pixel of the test Earth under any lighting, or of a grey pixel.
Hue hueOf(Rgb c);

}  // namespace e2e
