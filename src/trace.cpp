#include "trace.h"

#include <algorithm>
#include <cmath>

namespace {

// Metres in a full turn of a great circle.
const double GREAT_CIRCLE = 40000000.0;
// The step reads the chord between the ends as a chord of the sea-level sphere, whatever the
// ends' altitudes; asin(chord / DIAMETER) has an answer up to this length.
const double DIAMETER = 2.0 * GLOBE_RADIUS;
// Subdivision depth of the polyline: 2^5 - 1 = 31 points between the ends.
const int DEPTH = 4;
// Within this angle (radians) of exactly opposite the path bends at the point a quarter turn
// from the source instead of following the chord: the chord's middle comes close to the centre,
// and for ends at different altitudes next to one end.
const double NEAR_OPPOSITE = 1e-3;
// Within this angle of exactly opposite the ends' own great circle is lost: converting two
// exactly opposite places to scene points leaves them up to about 3e-7 off opposite through
// rounding alone. Such ends take a fixed great circle, through the source's meridian.
const double OPPOSITE = 1e-6;
// The chord step reads a chord as one of the sea-level sphere, spanning twice
// asin(AB / DIAMETER). A step short of arrival overshoots when that span comes within this many
// step angles of a half turn, and so it does when the ends come as close to opposite (below sea
// level the chord never reaches the diameter). There the head travels by halving.
const double STEP_GAP = 64.0;
// Each halving halves the arc, so places near the globe need a few levels; this only bounds
// the nesting for far-off points.
const int MAX_HALVING = 128;

// Scene vectors in double precision: the ends are float, but the direction of a chord's middle
// near the centre, of a near-opposite pair's great circle, and of the subdivision points built
// on them hold only in double. Points are rounded to float when they are stored.
struct Vec {
    double x, y, z;
};

Vec vec(const Point& p) { return Vec{p.x, p.y, p.z}; }

Point point(const Vec& v) {
    return Point(static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z));
}

Vec operator+(const Vec& a, const Vec& b) { return Vec{a.x + b.x, a.y + b.y, a.z + b.z}; }

Vec operator-(const Vec& a, const Vec& b) { return Vec{a.x - b.x, a.y - b.y, a.z - b.z}; }

Vec operator*(const Vec& a, double f) { return Vec{a.x * f, a.y * f, a.z * f}; }

double dot(const Vec& a, const Vec& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

double length(const Vec& a) { return std::sqrt(dot(a, a)); }

Vec cross(const Vec& a, const Vec& b) {
    return Vec{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// A position on a path: the scene point and its altitude in metres.
struct Place {
    Vec at;
    double alt;
};

// True when s and d point in opposite directions to within the angle limit (its sine).
bool opposite(const Vec& s, const Vec& d, double limit) {
    if (!(dot(s, d) < 0)) return false;
    Vec c = cross(s, d);
    return dot(c, c) < limit * limit * dot(s, s) * dot(d, d);
}

// The part of t square to the unit vector u.
Vec square(const Vec& t, const Vec& u) { return t - u * dot(u, t); }

// The point a quarter turn from s towards d, at s's distance from the centre, on the great circle
// through both. Ends too close to opposite to fix that circle take the meridian through s,
// towards +y; from a pole, towards +z (the meridian of longitude 0).
Vec quarterTurn(const Vec& s, const Vec& d) {
    double r = length(s);
    Vec u = s * (1 / r);
    Vec w = square(d, u);
    if (opposite(s, d, OPPOSITE)) {
        w = square(Vec{0, 1, 0}, u);
        if (length(w) < 1e-6) w = square(Vec{0, 0, 1}, u);
    }
    return w * (r / length(w));
}

// Straight interpolation s * (1 - f) + d * f.
Vec chord(const Vec& s, const Vec& d, double f) { return s * (1 - f) + d * f; }

// The point of the path from s to d at parameter f of the chord (0 at s, 1 at d), carried
// along the ray from the centre to the altitude interpolated at f. Near-opposite ends take the
// chord bent at the quarter-turn point instead. The centre itself stays where it is; an
// altitude below the centre counts by its radius's size.
Place ipol(const Place& s, const Place& d, double f) {
    Vec tp;
    if (opposite(s.at, d.at, NEAR_OPPOSITE)) {
        Vec w = quarterTurn(s.at, d.at);
        tp = f <= 0.5 ? chord(s.at, w, f * 2) : chord(w, d.at, f * 2 - 1);
    } else {
        tp = chord(s.at, d.at, f);
    }
    double alt = s.alt * (1 - f) + d.alt * f;
    double len = length(tp);
    double r = std::fabs(sceneRadius(static_cast<float>(alt)));
    return Place{len > 0 ? tp * (r / len) : tp, alt};
}

// Appends the 2^(rec+1) - 1 points between s and d, in order, each the middle of its
// neighbours' path.
void div(const Place& s, const Place& d, int rec, T_PointVector& out) {
    Place m = ipol(s, d, 0.5);
    if (rec > 0) div(s, m, rec - 1, out);
    out.push_back(point(m.at));
    if (rec > 0) div(m, d, rec - 1, out);
}

// Carries the head towards d by a step of angle mi (radians; at sea level the head covers
// 2 mi). False when the head arrives; it is then left as it was.
bool step(Place& head, const Place& d, double mi, int depth) {
    double AB = length(head.at - d.at);
    if (!(AB > 0)) return false;

    // Half the angle the chord spans, read on the sea-level sphere. Beyond the diameter asin has
    // no answer, and a step short of arrival overshoots when that angle comes within a few steps
    // of a quarter turn, or the ends within a few steps of opposite: head for the middle of the
    // path instead. Arriving there ends the step at the middle.
    double ro = std::asin(std::min(AB / DIAMETER, 1.0));
    bool halve = AB > DIAMETER || (mi < ro && PI / 2 - ro < STEP_GAP / 2 * mi) ||
                 opposite(head.at, d.at, std::max(NEAR_OPPOSITE, STEP_GAP * mi));
    if (halve && depth < MAX_HALVING) {
        Place middle = ipol(head, d, 0.5);
        if (!step(head, middle, mi, depth + 1)) head = middle;
        return true;
    }
    if (AB > DIAMETER) return true;

    double fi = ro - mi;
    double k = std::sqrt(GLOBE_RADIUS * GLOBE_RADIUS - AB * AB / 4);
    double n = std::tan(fi) * k;
    double pos = (AB - 2 * n) / AB;
    // fi < 0 is pos > 1 before rounding: the step is longer than the half angle left.
    // Testing it as well keeps very long steps off tan's further branches.
    if (pos > 1 || fi < 0) return false;
    // With a forward step pos can fall below 0 only by rounding: the head stays put.
    if (pos < 0) pos = 0;
    head = ipol(head, d, pos);
    return true;
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

bool GeoTrace::move(float dist) {
    // No step (or no number): the head stays; tell whether it is still away.
    if (!(dist > 0)) return !(p1 == p2) && !samePlace(g1, g2);

    // The head keeps its scene position from step to step: near a pole the latitude in float
    // rounds to exactly 90 degrees, and a head rebuilt from it would land on the pole again.
    Place head{vec(p1), g1.Altitude};
    if (!step(head, Place{vec(p2), g2.Altitude}, dist / GREAT_CIRCLE * (2 * PI), 0)) {
        takePlace(g1, g2);
        return false;
    }
    p1 = point(head.at);
    takePlace(g1, placeOf(p1));
    computePoints();
    return true;
}

void GeoTrace::computePoints() {
    points.clear();
    points.push_back(p1);
    div(Place{vec(p1), g1.Altitude}, Place{vec(p2), g2.Altitude}, DEPTH, points);
    points.push_back(p2);
}
