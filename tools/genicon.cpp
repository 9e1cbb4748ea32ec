// Draws terralux's application icon: the Earth texture on a globe seen from afar (orthographic
// view), centred on Africa and Europe and lit from the upper left, so that a crescent of night
// shows on the right, inside a thin blue rim of air that keeps the night side apart from a dark
// background. Writes a square PAM image (RGB_ALPHA, 8 bits) whose background is fully
// transparent; smaller icons are scaled down from it.
//
// Usage: terralux_genicon EARTH_TGA SIZE OUTPUT_PAM

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tgaload.h"

namespace {

struct Rgb {
    double r, g, b;
};

constexpr double kPi = 3.14159265358979323846;
constexpr double kCentreLatitude = 20.0;           // degrees north at the middle of the icon
constexpr double kCentreLongitude = 15.0;          // degrees east at the middle of the icon
constexpr double kAmbient = 0.10;                  // brightness of the night side
constexpr double kLight[3] = {-0.55, 0.45, 0.70};  // towards the light, in view space
constexpr double kAir = 0.05;                      // width of the rim of air, in globe radii
constexpr Rgb kAirColour = {110, 160, 255};
constexpr double kMargin = 0.02;  // transparent border, as a share of the size
constexpr int kSamples = 4;       // samples per pixel along each axis

// Bilinear lookup in an equirectangular image whose rows run from the south pole up and whose
// columns run east from longitude -180.
Rgb texel(const image_t& earth, double latitude, double longitude) {
    const int w = earth.info.width, h = earth.info.height, c = earth.info.components;
    const double u = (longitude + kPi) / (2 * kPi) * w - 0.5;
    const double v = std::clamp((latitude + kPi / 2) / kPi * h - 0.5, 0.0, h - 1.0);
    const int x0 = int(std::floor(u)), y0 = std::min(int(v), h - 2);
    const double fx = u - x0, fy = v - y0;
    Rgb sum{0, 0, 0};
    for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx) {
            const int x = ((x0 + dx) % w + w) % w;
            const unsigned char* p = earth.data + (size_t(y0 + dy) * w + x) * c;
            const double k = (dx ? fx : 1 - fx) * (dy ? fy : 1 - fy);
            sum.r += k * p[0];
            sum.g += k * p[c > 2 ? 1 : 0];
            sum.b += k * p[c > 2 ? 2 : 0];
        }
    return sum;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 || std::atoi(argv[2]) < 16) {
        std::fprintf(stderr, "usage: %s EARTH_TGA SIZE OUTPUT_PAM (SIZE at least 16)\n", argv[0]);
        return 2;
    }
    image_t earth{};
    FILE* in = std::fopen(argv[1], "rb");
    const char* error = in ? tgaReadImage(in, &earth, 0) : "cannot open";
    if (in) std::fclose(in);
    if (error != nullptr || earth.data == nullptr || earth.info.height < 2) {
        std::fprintf(stderr, "terralux_genicon: %s: %s\n", argv[1], error ? error : "no image");
        tgaFree(&earth);
        return 1;
    }

    const int size = std::atoi(argv[2]);
    const double radius = size * (0.5 - kMargin) / (1 + kAir);
    const double lat0 = kCentreLatitude * kPi / 180, lon0 = kCentreLongitude * kPi / 180;
    const double light_norm =
        std::sqrt(kLight[0] * kLight[0] + kLight[1] * kLight[1] + kLight[2] * kLight[2]);
    std::vector<unsigned char> out(size_t(size) * size * 4);
    for (int row = 0; row < size; ++row)
        for (int col = 0; col < size; ++col) {
            Rgb sum{0, 0, 0};  // premultiplied by each sample's opacity
            double opacity = 0;
            for (int sy = 0; sy < kSamples; ++sy)
                for (int sx = 0; sx < kSamples; ++sx) {
                    // View space: x right, y up, z towards the viewer; the globe has radius 1.
                    const double x = (col + (sx + 0.5) / kSamples - size / 2.0) / radius;
                    const double y = (size / 2.0 - row - (sy + 0.5) / kSamples) / radius;
                    const double r = std::sqrt(x * x + y * y);
                    if (r >= 1 + kAir) continue;
                    // Lambert light on the sphere's normal; beyond the limb, on its edge.
                    const double z = r < 1 ? std::sqrt(1 - r * r) : 0;
                    const double nx = r < 1 ? x : x / r, ny = r < 1 ? y : y / r;
                    const double lit =
                        (nx * kLight[0] + ny * kLight[1] + z * kLight[2]) / light_norm;
                    const double k = kAmbient + (1 - kAmbient) * std::max(0.0, lit);
                    if (r >= 1) {
                        // The rim of air fades out over kAir radii and stays faintly lit on
                        // the night side.
                        const double a = 0.8 * std::pow(1 - (r - 1) / kAir, 2);
                        const double air = 0.35 + 0.65 * std::max(0.0, lit);
                        sum.r += a * air * kAirColour.r;
                        sum.g += a * air * kAirColour.g;
                        sum.b += a * air * kAirColour.b;
                        opacity += a;
                        continue;
                    }
                    // Tilt by the centre's latitude about x, then turn by its longitude about
                    // the polar axis: the globe's frame has +y north and longitude 0 on +z.
                    const double ty = y * std::cos(lat0) + z * std::sin(lat0);
                    const double tz = -y * std::sin(lat0) + z * std::cos(lat0);
                    const double gx = x * std::cos(lon0) + tz * std::sin(lon0);
                    const double gz = -x * std::sin(lon0) + tz * std::cos(lon0);
                    const Rgb t =
                        texel(earth, std::asin(std::clamp(ty, -1.0, 1.0)), std::atan2(gx, gz));
                    // Towards the limb the surface is seen through more air.
                    const double haze = 0.6 * std::pow(1 - z, 3);
                    sum.r += k * ((1 - haze) * t.r + haze * kAirColour.r);
                    sum.g += k * ((1 - haze) * t.g + haze * kAirColour.g);
                    sum.b += k * ((1 - haze) * t.b + haze * kAirColour.b);
                    opacity += 1;
                }
            unsigned char* p = out.data() + (size_t(row) * size + col) * 4;
            if (opacity > 0) {
                p[0] = (unsigned char)std::lround(std::min(255.0, sum.r / opacity));
                p[1] = (unsigned char)std::lround(std::min(255.0, sum.g / opacity));
                p[2] = (unsigned char)std::lround(std::min(255.0, sum.b / opacity));
            }
            p[3] = (unsigned char)std::lround(255.0 * opacity / (kSamples * kSamples));
        }
    tgaFree(&earth);

    FILE* file = std::fopen(argv[3], "wb");
    bool ok = file != nullptr;
    if (ok) {
        std::fprintf(file,
                     "P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n",
                     size, size);
        ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
        ok = std::fclose(file) == 0 && ok;
    }
    if (!ok) {
        std::fprintf(stderr, "terralux_genicon: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
