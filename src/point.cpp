#include "point.h"

#include <cmath>

float sceneRadius(float altitude) {
    return (altitude + EARTH_RADIUS) * GLOBE_RADIUS / EARTH_RADIUS;
}

namespace {

float dot(const Point& a, const Point& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

}  // namespace

const Point center;

float Point::distance(const Point& p) const {
    float dx = x - p.x;
    float dy = y - p.y;
    float dz = z - p.z;
    return static_cast<float>(std::sqrt(static_cast<double>(dx * dx + dy * dy + dz * dz)));
}

GeoPoint Point::geoPoint() const {
    GeoPoint g;
    float rr = distance(center);
    g.Altitude = rr * EARTH_RADIUS / GLOBE_RADIUS - EARTH_RADIUS;
    g.Latitude = static_cast<float>(std::asin(static_cast<double>(y / rr)));
    g.Longtitude = static_cast<float>(std::atan2(static_cast<double>(x), static_cast<double>(z)));
    return g;
}

Point GeoPoint::point() const {
    float r = sceneRadius(Altitude);
    Point p;
    p.y = static_cast<float>(r * std::sin(static_cast<double>(Latitude)));
    float rr = static_cast<float>(r * std::cos(static_cast<double>(Latitude)));
    p.x = static_cast<float>(rr * std::sin(static_cast<double>(Longtitude)));
    p.z = static_cast<float>(rr * std::cos(static_cast<double>(Longtitude)));
    return p;
}

Vector Vector::mult(Vector b) const {
    return Vector(y * b.z - z * b.y, z * b.x - x * b.z, x * b.y - y * b.x);
}

Vector operator*(const Vector& a, const Vector& b) { return a.mult(b); }

Point operator*(Point s, float f) { return Point(s.x * f, s.y * f, s.z * f); }

Point operator+(Point s1, Point s2) { return Point(s1.x + s2.x, s1.y + s2.y, s1.z + s2.z); }

bool operator==(Point s1, Point s2) { return s1.x == s2.x && s1.y == s2.y && s1.z == s2.z; }

float Line::distance(Point& p) const {
    Point v(B.x - A.x, B.y - A.y, B.z - A.z);
    float r = dot(p, v);
    p.nearside = r < 0;
    float vv = dot(v, v);
    // Two coinciding points give no direction: the line shrinks to the point A.
    if (!(vv > 0)) return p.distance(A);
    float s = dot(A, v);
    float t = (r - s) / vv;
    Point n = A + v * t;
    return p.distance(n);
}

Point Line::surf() const { return surf(0); }

Point Line::surf(float Altitude) const {
    Point v(B.x - A.x, B.y - A.y, B.z - A.z);
    float R = sceneRadius(Altitude);
    Point result;
    float a = dot(v, v);
    float b = 2 * A.x * v.x + 2 * A.y * v.y + 2 * A.z * v.z;
    float c = dot(A, A) - R * R;
    float D = b * b - 4 * a * c;
    // No direction (a = 0) counts as a miss, like a line passing the sphere by.
    if (!(D >= 0) || !(a > 0)) {
        result.nearside = false;
        return result;
    }
    float sq = static_cast<float>(std::sqrt(static_cast<double>(D)));
    float t1 = (-b - sq) / (2 * a);
    result.x = v.x * t1 + A.x;
    result.y = v.y * t1 + A.y;
    result.z = v.z * t1 + A.z;
    result.nearside = true;
    return result;
}

std::ostream& operator<<(std::ostream& os, const Point& p) {
    if (p.id != 0) os << p.id << ": ";
    return os << p.x << " " << p.y << " " << p.z;
}

std::ostream& operator<<(std::ostream& os, const GeoPoint& g) {
    if (g.id != 0) os << g.id << ": ";
    return os << g.Latitude << " " << g.Longtitude << " " << g.Altitude;
}

std::ostream& operator<<(std::ostream& os, const Line& l) { return os << l.A << " " << l.B; }
