// Scene points, directions, lines and geographic positions.
//
// Scene frame: origin at the globe's centre, +y towards latitude +90 degrees,
// longitude 0 on +z and longitude +90 degrees on +x on the equator.
// The sea-level sphere has radius GLOBE_RADIUS scene units and stands for EARTH_RADIUS metres.
#ifndef TERRALUX_POINT_H
#define TERRALUX_POINT_H

#include <cstdint>
#include <ostream>
#include <vector>

constexpr float GLOBE_RADIUS = 15.0f;
constexpr float EARTH_RADIUS = 6500000.0f;
constexpr double PI = 3.14159265358979323846;

// Scene radius of the sphere for an altitude in metres: (altitude + EARTH_RADIUS) scaled by
// GLOBE_RADIUS / EARTH_RADIUS.
float sceneRadius(float altitude);

struct GeoPoint;

struct Point {
    uint32_t id;
    float x, y, z;
    float size;     // extent in scene units; the pick tolerance
    bool nearside;  // written by Line::distance and Line::surf

    Point() : id(0), x(0), y(0), z(0), size(0.5f), nearside(false) {}
    Point(float newx, float newy, float newz)
        : id(0), x(newx), y(newy), z(newz), size(0.5f), nearside(false) {}
    Point(float nx, float ny, float nz, float nsize)
        : id(0), x(nx), y(ny), z(nz), size(nsize), nearside(false) {}
    Point(int nid, float nx, float ny, float nz, float nsize)
        : id(static_cast<uint32_t>(nid)), x(nx), y(ny), z(nz), size(nsize), nearside(false) {}
    Point(int nid, float nx, float ny, float nz)
        : id(static_cast<uint32_t>(nid)), x(nx), y(ny), z(nz), size(0.5f), nearside(false) {}

    // Euclidean distance between this point and p.
    float distance(const Point& p) const;
    // Geographic position of this point; id 0. The centre itself has no latitude (NaN).
    GeoPoint geoPoint() const;
};

typedef std::vector<Point> T_PointVector;

// The globe's centre: (0, 0, 0), id 0, size 0.5.
extern const Point center;

// A direction. Its coordinates are kept private; its own operation is the cross product.
class Vector : private Point {
public:
    Vector() : Point() {}
    Vector(float nx, float ny, float nz) : Point(nx, ny, nz) {}
    explicit Vector(const Point& p) : Point(p) {}

    // Cross product this x b; id 0, size 0.5.
    Vector mult(Vector b) const;
    // The three coordinates as a scene point.
    Point point() const { return Point(x, y, z); }
};

Vector operator*(const Vector& a, const Vector& b);
Point operator*(Point s, float f);
Point operator+(Point s1, Point s2);
bool operator==(Point s1, Point s2);

// Unbounded straight line through A and B, directed from A to B.
struct Line {
    Point A;
    Point B;

    Line(Point start, Point end) : A(start), B(end) {}

    // Distance of p from the line. Sets p.nearside when p, taken as a vector from the
    // origin, points against the line's direction.
    float distance(Point& p) const;
    // First crossing of the line with the sphere for the given altitude in metres
    // (the smaller root, even behind A). nearside is false, and the point (0, 0, 0),
    // when the line misses the sphere or has no direction.
    Point surf() const;
    Point surf(float Altitude) const;
};

// Geographic position: angles in radians, altitude in metres above the sea-level sphere.
struct GeoPoint {
    uint32_t id;
    float Latitude;
    float Longtitude;
    float Altitude;

    GeoPoint() : id(0), Latitude(0), Longtitude(0), Altitude(0) {}
    // lat and lon in degrees, alt in metres.
    GeoPoint(float lat, float lon, float alt)
        : id(0), Latitude(radians(lat)), Longtitude(radians(lon)), Altitude(alt) {}
    GeoPoint(int name, float lat, float lon, float alt)
        : id(static_cast<uint32_t>(name)),
          Latitude(radians(lat)),
          Longtitude(radians(lon)),
          Altitude(alt) {}

    // Scene position of this place; id 0, size 0.5.
    Point point() const;

private:
    static float radians(float deg) { return static_cast<float>(deg * PI / 180.0); }
};

typedef std::vector<GeoPoint> T_GeoPointVector;

std::ostream& operator<<(std::ostream& os, const Point& p);
std::ostream& operator<<(std::ostream& os, const GeoPoint& g);
std::ostream& operator<<(std::ostream& os, const Line& l);

#endif
