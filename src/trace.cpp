#include "trace.h"

#include <algorithm>
#include <cmath>

namespace {

const double PI = 3.14159265358979323846;
// Twice and the square of the sea-level radius (15 scene units).
const float DIAMETER = 30.0f;
const float RADIUS_SQ = 225.0f;
// Metres in a full turn of a great circle.
const float GREAT_CIRCLE = 40000000.0f;
// Subdivision depth of the polyline: 2^5 - 1 = 31 points between the ends.
const int DEPTH = 4;
// Two ends whose directions lie within this angle (radians) of exactly opposite have no usable
// chord middle: the chord runs too close to the centre.
const double OPPOSITE = 1e-3;
// Near the antipode the chord step overshoots unless the gap to the antipode is this many step
// angles wide; closer in, the head travels by halving.
const double STEP_GAP = 64.0;
// Each halving halves the arc, so places near the globe need a few levels; this only bounds
// the nesting for far-off points.
const int MAX_HALVING = 128;

struct Vec {
    double x, y, z;
};

Vec vec(const Point& p) { return Vec{p.x, p.y, p.z}; }

double dot(const Vec& a, const Vec& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

double length(const Vec& a) { return std::sqrt(dot(a, a)); }

Vec cross(const Vec& a, const Vec& b) {
    return Vec{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// True when s and d point in opposite directions to within the angle limit.
bool opposite(const Point& s, const Point& d, double limit) {
    Vec a = vec(s);
    Vec b = vec(d);
    if (!(dot(a, b) < 0)) return false;
    return length(cross(a, b)) < limit * length(a) * length(b);
}

// The point a quarter turn from s, at s's distance from the centre, on the meridian through
// s towards +y; from a pole, towards +z (the meridian of longitude 0). This fixes the great
// circle through two opposite ends.
Point quarterTurn(const Point& s) {
    Vec a = vec(s);
    double r = length(a);
    Vec u{a.x / r, a.y / r, a.z / r};
    Vec w{-u.y * u.x, 1 - u.y * u.y, -u.y * u.z};
    if (length(w) < 1e-6) w = Vec{-u.z * u.x, -u.z * u.y, 1 - u.z * u.z};
    double f = r / length(w);
    return Point(static_cast<float>(w.x * f), static_cast<float>(w.y * f),
                 static_cast<float>(w.z * f));
}

// Straight interpolation s * (1 - f) + d * f, component by component.
Point chord(const Point& s, const Point& d, float f) {
    float i = 1 - f;
    return Point(s.x * i + d.x * f, s.y * i + d.y * f, s.z * i + d.z * f);
}

// Geographic position of a scene point; the centre, which has no latitude, gets latitude 0.
GeoPoint placeOf(const Point& p) {
    GeoPoint g = p.geoPoint();
    if (std::isnan(g.Latitude)) g.Latitude = 0;
    return g;
}

void takePlace(GeoPoint& g, const GeoPoint& from) {
    g.Latitude = from.Latitude;
    g.Longtitude = from.Longtitude;
    g.Altitude = from.Altitude;
}

bool samePlace(const GeoPoint& a, const GeoPoint& b) {
    return a.Latitude == b.Latitude && a.Longtitude == b.Longtitude && a.Altitude == b.Altitude;
}

}  // namespace

GeoTrace::GeoTrace(GeoPoint s, GeoPoint d) : g1(s), g2(d), p1(s.point()), p2(d.point()) {
    computePoints();
}

void GeoTrace::src(Point s) {
    p1 = s;
    g1 = placeOf(s);
    computePoints();
}

void GeoTrace::dest(Point d) {
    p2 = d;
    g2 = placeOf(d);
    computePoints();
}

void GeoTrace::src(GeoPoint s) {
    g1 = s;
    p1 = s.point();
    computePoints();
}

void GeoTrace::dest(GeoPoint d) {
    g2 = d;
    p2 = d.point();
    computePoints();
}

bool GeoTrace::move(float dist) { return advance(dist, 0); }

bool GeoTrace::advance(float dist, int depth) {
    // No step (or no number): the head stays; tell whether it is still away.
    if (!(dist > 0)) return !(p1 == p2) && !samePlace(g1, g2);

    float AB = p1.distance(p2);
    if (!(AB > 0)) {
        takePlace(g1, g2);
        return false;
    }
    float mi = static_cast<float>(dist / GREAT_CIRCLE * (2 * PI));

    // Beyond the sea-level diameter asin has no answer, and near the antipode the chord
    // step overshoots: head for the middle of the path instead, through a temporary trace.
    bool halve = AB > DIAMETER || opposite(p1, p2, std::max(OPPOSITE, STEP_GAP * mi));
    if (halve && depth < MAX_HALVING) {
        GeoPoint gp = placeOf(ipol(0.5f));
        GeoTrace gtr(g1, gp);
        gtr.advance(dist, depth + 1);
        g1 = gtr.src();
        p1 = g1.point();
        computePoints();
        return true;
    }
    if (AB > DIAMETER) return true;

    float ro = static_cast<float>(std::asin(static_cast<double>(AB / DIAMETER)));
    float fi = ro - mi;
    float k2 = RADIUS_SQ - AB * AB / 4;
    float k = static_cast<float>(std::sqrt(static_cast<double>(k2)));
    float n = static_cast<float>(std::tan(static_cast<double>(fi)) * k);
    float pos = (AB - 2 * n) / AB;
    // fi < 0 is pos > 1 before rounding: the step is longer than the half angle left.
    // Testing it as well keeps very long steps off tan's further branches.
    if (pos > 1 || fi < 0) {
        takePlace(g1, g2);
        return false;
    }
    // With a forward step pos can fall below 0 only by rounding: the head stays put.
    if (pos < 0) pos = 0;
    p1 = ipol(pos);
    takePlace(g1, placeOf(p1));
    computePoints();
    return true;
}

Point GeoTrace::ipol(float pos) const {
    float ipos = 1 - pos;
    float tAlt = g1.Altitude * ipos + g2.Altitude * pos;
    Point tp;
    if (opposite(p1, p2, OPPOSITE)) {
        // The chord runs through the centre: bend it at the quarter-turn point instead.
        Point w = quarterTurn(p1);
        tp = pos <= 0.5f ? chord(p1, w, pos * 2) : chord(w, p2, pos * 2 - 1);
    } else {
        tp.x = p1.x * ipos + p2.x * pos;
        tp.y = p1.y * ipos + p2.y * pos;
        tp.z = p1.z * ipos + p2.z * pos;
    }
    Line tl(tp, center);
    return tl.surf(tAlt);
}

void GeoTrace::div(Point s, Point d, float sa, float da, int rec) {
    float tAlt = (sa + da) * 0.5f;
    Point tp;
    if (opposite(s, d, OPPOSITE)) {
        tp = quarterTurn(s);
    } else {
        tp.x = (s.x + d.x) * 0.5f;
        tp.y = (s.y + d.y) * 0.5f;
        tp.z = (s.z + d.z) * 0.5f;
    }
    tp = Line(tp, center).surf(tAlt);
    if (rec > 0) div(s, tp, sa, tAlt, rec - 1);
    points.push_back(tp);
    if (rec > 0) div(tp, d, tAlt, da, rec - 1);
}

void GeoTrace::computePoints() {
    points.clear();
    points.push_back(p1);
    div(p1, p2, g1.Altitude, g2.Altitude, DEPTH);
    points.push_back(p2);
}
