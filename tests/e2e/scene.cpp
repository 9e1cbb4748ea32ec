#include "scene.h"

#include <stb_image_write.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace e2e {

namespace {

const double kDeg = kPi / 180;

Vec3 rotateX(Vec3 p, double deg) {
    double c = std::cos(deg * kDeg), s = std::sin(deg * kDeg);
    return {p.x, p.y * c - p.z * s, p.y * s + p.z * c};
}

Vec3 rotateY(Vec3 p, double deg) {
    double c = std::cos(deg * kDeg), s = std::sin(deg * kDeg);
    return {p.x * c + p.z * s, p.y, -p.x * s + p.z * c};
}

}  // namespace

double focalPixels(const View& view) { return view.height / 2.0 / std::tan(22.5 * kDeg); }

Vec3 scenePoint(double latDeg, double lonDeg, double altMetres) {
    double r = (altMetres + 6.5e6) * 15 / 6.5e6, lat = latDeg * kDeg, lon = lonDeg * kDeg;
    return {r * std::cos(lat) * std::sin(lon), r * std::sin(lat),
            r * std::cos(lat) * std::cos(lon)};
}

Vec3 markerToEye(const View& view, Vec3 p) {
    Vec3 e = rotateX(rotateY(rotateX(p, 15), view.yaw), view.pitch);
    e.z += view.zoom - 50;
    return e;
}

Vec3 eyeToMarker(const View& view, Vec3 e) {
    e.z -= view.zoom - 50;
    return rotateX(rotateY(rotateX(e, -view.pitch), -view.yaw), -15);
}

std::pair<double, double> project(const View& view, Vec3 p) {
    Vec3 e = markerToEye(view, p);
    double f = focalPixels(view);
    return {view.width / 2.0 + f * e.x / -e.z, view.height / 2.0 - f * e.y / -e.z};
}

std::optional<Vec3> sphereHit(Vec3 a, Vec3 b, double radius) {
    Vec3 d{b.x - a.x, b.y - a.y, b.z - a.z};
    double qa = d.x * d.x + d.y * d.y + d.z * d.z;
    double qb = 2 * (a.x * d.x + a.y * d.y + a.z * d.z);
    double qc = a.x * a.x + a.y * a.y + a.z * a.z - radius * radius;
    double disc = qb * qb - 4 * qa * qc;
    if (disc < 0) return std::nullopt;
    double t = (-qb - std::sqrt(disc)) / (2 * qa);
    return Vec3{a.x + d.x * t, a.y + d.y * t, a.z + d.z * t};
}

double diskRadius(const View& view) {
    double dist = 50 - view.zoom;
    return focalPixels(view) * 15 / std::sqrt(dist * dist - 225);
}

// ---- The test textures -------------------------------------------------------------------------

Rgb testEarth(double latDeg, double lonDeg) {
    const uint8_t m = kEarthMax;
    if (std::abs(lonDeg) < 4) return {m, m, m};
    if (latDeg >= 0) return lonDeg > 0 ? Rgb{m, 0, 0} : Rgb{0, m, 0};
    return lonDeg > 0 ? Rgb{0, 0, m} : Rgb{0, m, m};
}

void writeTestTextures(const std::string& dir, bool topFirst) {
    fs::create_directories(dir + "/textures");
    // pixel(x, y) gives the colour with y counted from the top row. stb writes rows bottom first,
    // as descriptor 0x00 says; flipped, they come top first, as 0x20 says.
    auto writeTga = [&](const std::string& name, int width, int height, auto pixel) {
        std::vector<Rgb> rgb;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) rgb.push_back(pixel(x, y));
        std::string tga;
        auto append = [](void* out, void* data, int size) {
            static_cast<std::string*>(out)->append(static_cast<char*>(data), size);
        };
        stbi_write_tga_with_rle = 0;
        stbi_flip_vertically_on_write(topFirst);
        static_assert(sizeof(Rgb) == 3, "rgb holds 3 bytes a pixel");
        stbi_write_tga_to_func(append, &tga, width, height, 3, rgb.data());
        stbi_flip_vertically_on_write(0);
        tga[17] = topFirst ? 0x20 : 0x00;
        writeText(dir + "/textures/" + name, tga);
    };
    const int w = 512, h = 256;
    writeTga("earth.tga", w, h, [&](int x, int y) {
        return testEarth(90 - (y + 0.5) * 180 / h, (x + 0.5) * 360 / w - 180);
    });
    writeTga("stars.tga", 16, 16, [](int, int) { return Rgb{kStarsGrey, kStarsGrey, kStarsGrey}; });
}

std::optional<std::pair<double, double>> centroid(const Image& image, bool (*test)(Rgb)) {
    double sx = 0, sy = 0;
    int n = 0;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            if (!test(image.at(x, y))) continue;
            sx += x + 0.5;
            sy += y + 0.5;
            ++n;
        }
    }
    if (n == 0) return std::nullopt;
    return std::make_pair(sx / n, sy / n);
}

int countAround(const Image& image, double cx, double cy, int half, bool (*test)(Rgb)) {
    int n = 0;
    for (int y = std::max(0, int(cy) - half); y <= std::min(image.height - 1, int(cy) + half); ++y)
        for (int x = std::max(0, int(cx) - half); x <= std::min(image.width - 1, int(cx) + half);
             ++x)
            n += test(image.at(x, y));
    return n;
}

Hue hueOf(Rgb c) {
    int r = c.r, g = c.g, b = c.b;
    int hi = std::max({r, g, b}), lo = std::min({r, g, b});
    if (hi < 12) return Hue::Other;
    if (hi - lo <= hi / 6) return Hue::Grey;
    if (r == hi && g <= r / 4 && b <= r / 4) return Hue::Red;
    if (g == hi && r <= g / 4 && b <= g / 4) return Hue::Green;
    if (b == hi && r <= b / 4 && g <= b / 4) return Hue::Blue;
    if (r <= lo + hi / 4 && std::abs(g - b) <= hi / 5) return Hue::Cyan;
    return Hue::Other;
}

}  // namespace e2e
