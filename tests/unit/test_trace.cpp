// Great-circle traces, checked against plain double-precision vector geometry.
#include "trace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>

namespace {
const float STEP = 1873.8f;  // the default step in metres
const double MI = STEP / 40000000.0 * 2 * PI;

struct V {
    double x, y, z;
};
V v(const Point& p) { return V{p.x, p.y, p.z}; }
double dot(V a, V b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V cross(V a, V b) { return V{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
// Angle at the centre between two points; sine of a point's angle off the plane with normal n.
double angle(const Point& a, const Point& b) {
    return std::atan2(std::sqrt(dot(cross(v(a), v(b)), cross(v(a), v(b)))), dot(v(a), v(b)));
}
double offPlane(V n, const Point& p) {
    return std::fabs(dot(n, v(p))) / std::sqrt(dot(n, n) * dot(v(p), v(p)));
}
Point head(const GeoTrace& t) { return t.getPoints().front(); }
// Largest sine of a polyline point's angle off the great circle through the head and the
// destination; for ends within 1e-6 rad of opposite, off the circle through the head and the
// middle point.
double offCircle(const GeoTrace& t) {
    T_PointVector pts = t.getPoints();
    V a = v(pts.front()), b = v(pts.back()), n = cross(a, b);
    if (dot(a, b) < 0 && dot(n, n) < 1e-12 * dot(a, a) * dot(b, b)) n = cross(a, v(pts[16]));
    double worst = 0;
    for (const Point& p : pts) worst = std::max(worst, offPlane(n, p));
    return worst;
}

bool samePlace(const GeoPoint& a, const GeoPoint& b) {
    return a.Latitude == b.Latitude && a.Longtitude == b.Longtitude && a.Altitude == b.Altitude;
}
bool finite(const GeoTrace& t) {
    bool ok = t.getPoints().size() == 33;
    for (GeoPoint g : {t.src(), t.dest()})
        ok = ok && std::isfinite(g.Latitude + g.Longtitude + g.Altitude);
    for (const Point& p : t.getPoints()) ok = ok && std::isfinite(p.x + p.y + p.z);
    return ok;
}
// Moves until arrival (or the limit); the number of calls that returned true.
int travel(GeoTrace& t, float dist, int limit = 20000) {
    int n = 0;
    while (n < limit && t.move(dist)) ++n;
    return n;
}
GeoTrace demo() {
    return GeoTrace(GeoPoint(55, 49.28f, 17.27f, 1200000), GeoPoint(56, 0, -45, 500000));
}
}  // namespace

TEST(TracePolyline, EndsMiddlePlaneAndEvenAltitude) {
    T_PointVector pts = demo().getPoints();
    ASSERT_EQ(pts.size(), 33u);
    EXPECT_TRUE(pts.front() == GeoPoint(49.28f, 17.27f, 1200000).point());
    EXPECT_TRUE(pts.back() == GeoPoint(0, -45, 500000).point());
    EXPECT_NEAR(pts.front().distance(pts.back()), 20.06, 1e-2);
    EXPECT_NEAR(pts[16].x, -4.940, 1e-3);
    EXPECT_NEAR(pts[16].y, 8.336, 1e-3);
    EXPECT_NEAR(pts[16].z, 13.921, 1e-3);
    V n = cross(v(pts.front()), v(pts.back()));
    for (int k = 1; k < 33; ++k) {
        EXPECT_LT(offPlane(n, pts[k]), 1e-6) << k;
        EXPECT_NEAR(pts[k].geoPoint().Altitude, 1200000 - 700000.0 * k / 32, 3) << k;
        EXPECT_GT(angle(pts[0], pts[k]), angle(pts[0], pts[k - 1])) << k;
    }
    pts = GeoTrace(GeoPoint(0, 0, 0), GeoPoint(0, 60, 0)).getPoints();
    for (int k = 1; k < 33; ++k) EXPECT_NEAR(angle(pts[k - 1], pts[k]), PI / 3 / 32, 1e-6) << k;
}

TEST(TraceMove, StepsToArrival) {
    GeoTrace t = demo();
    ASSERT_TRUE(t.move(STEP));
    EXPECT_EQ(t.src().id, 55u);
    EXPECT_LT(t.src().Altitude, 1200000);
    EXPECT_GT(t.src().Altitude, 1190000);
    T_PointVector last = t.getPoints();
    int n = 1;
    for (; n < 5000 && t.move(STEP); ++n) last = t.getPoints();
    EXPECT_GT(n, 2400);
    EXPECT_LT(n, 2500);
    EXPECT_TRUE(samePlace(t.src(), t.dest()));
    EXPECT_EQ(t.src().id, 55u);
    EXPECT_FALSE(t.move(STEP));
    EXPECT_TRUE(t.getPoints() == last);

    GeoTrace eq(GeoPoint(0, 0, 0), GeoPoint(0, 60, 0));
    Point start = head(eq);
    ASSERT_TRUE(eq.move(STEP));
    EXPECT_NEAR(angle(start, head(eq)) * 180 / PI, 0.0337, 1e-4);
    EXPECT_NEAR(1 + travel(eq, STEP), 1780, 10);
    // A step longer than the path arrives at once, however long it is.
    for (float d : {1.2e7f, 2.29e7f, 4e7f, 1e9f}) {
        EXPECT_FALSE(GeoTrace(GeoPoint(0, 0, 0), GeoPoint(0, 60, 0)).move(d)) << d;
    }
}

TEST(TraceMove, HalvingBranchAndRetargeting) {
    GeoTrace t(GeoPoint(3, 0, 0, 1200000), GeoPoint(0, 179, 1200000));
    EXPECT_NEAR(head(t).distance(t.getPoints().back()), 35.5, 0.1);
    ASSERT_TRUE(t.move(STEP));
    EXPECT_EQ(t.src().id, 3u);
    EXPECT_NEAR(t.src().Latitude, 0, 1e-6);
    EXPECT_NEAR(t.src().Altitude, 1200000, 5);
    EXPECT_GT(t.src().Longtitude, 2 * MI);
    EXPECT_LT(t.src().Longtitude, 2.5 * MI);
    // The head drawn from src() and the path's first point coincide up to float rounding.
    EXPECT_LT(head(t).distance(t.src().point()), 1e-5);

    Point p(1, 2, 14);
    t.src(p);
    EXPECT_EQ(t.src().id, 0u);
    EXPECT_TRUE(samePlace(t.src(), p.geoPoint()) && head(t) == p);
    t.src(GeoPoint(9, 10, 20, 0));
    EXPECT_EQ(t.src().id, 9u);
    EXPECT_TRUE(head(t) == GeoPoint(10, 20, 0).point());
    t.dest(p);
    EXPECT_EQ(t.dest().id, 0u);
    EXPECT_TRUE(t.getPoints().back() == p);
    t.dest(GeoPoint(12, -10, -20, 300000));
    EXPECT_EQ(t.dest().id, 12u);
    EXPECT_TRUE(t.getPoints().back() == GeoPoint(-10, -20, 300000).point());
    // After arrival the new path starts at the last head position, at the old end's height.
    travel(t, 100000);
    Point last = head(t);
    t.dest(GeoPoint(0, 0, 0));
    EXPECT_TRUE(head(t) == last);
    EXPECT_NEAR(t.getPoints()[1].geoPoint().Altitude, 300000 * 31.0 / 32, 3);
    ASSERT_TRUE(t.move(STEP));
    EXPECT_NEAR(angle(last, head(t)), 2 * MI, 0.3 * MI);
}

TEST(TraceOppositeEnds, OwnOrFixedCircleSteadyStepsAndArrival) {
    // Exactly opposite ends, and ends within 1e-3 rad of opposite (the last two rows): the
    // path bends at the point a quarter turn from the source, on the ends' own great circle,
    // or on the source's meridian when they lie within 1e-6 rad of opposite.
    GeoPoint ends[][2] = {{GeoPoint(0, 0, 0), GeoPoint(0, 180, 0)},
                          {GeoPoint(0, 0, 1200000), GeoPoint(0, 180, 1200000)},
                          {GeoPoint(30, 40, 0), GeoPoint(-30, -140, 0)},
                          {GeoPoint(90, 0, 0), GeoPoint(-90, 0, 0)},
                          {GeoPoint(-20, 10, 0), GeoPoint(20, -170, 2000000)},
                          {GeoPoint(0, 0, 0), GeoPoint(0, 179.95f, 0)},
                          {GeoPoint(10, 20, 1200000), GeoPoint(-10, -160.02f, 0)}};
    for (auto& e : ends) {
        GeoTrace t(e[0], e[1]);
        T_PointVector pts = t.getPoints();
        V n = cross(v(pts[0]), v(pts[16]));
        EXPECT_NEAR(angle(pts[0], pts[16]), PI / 2, 1e-3) << e[1];
        for (const Point& p : pts) EXPECT_LT(offPlane(n, p), 1e-5) << e[1];
        EXPECT_LT(offCircle(t), 1e-6) << e[1];
        int calls = 0;
        for (; calls < 1000 && t.move(100000); ++calls) {
            ASSERT_TRUE(finite(t));
            ASSERT_LT(offPlane(n, head(t)), 1e-4) << e[1] << " " << calls;
            ASSERT_LT(offCircle(t), 1e-6) << e[1] << " " << calls;
            ASSERT_TRUE(t.getPoints().back() == e[1].point()) << e[1] << " " << calls;
        }
        EXPECT_NEAR(calls, PI / (2 * MI * 100000 / STEP), 10) << e[1];
        EXPECT_TRUE(samePlace(t.src(), t.dest())) << e[1];
    }
    // Between the poles the path takes the meridian of longitude 0.
    EXPECT_NEAR(GeoTrace(GeoPoint(90, 0, 0), GeoPoint(-90, 0, 0)).getPoints()[16].z, 15, 1e-5);

    // At the slowest step (0.1 x 3747.6 m) a head passing a pole, on the halving branch or
    // between the poles, keeps going: it arrives in as many steps as the same path along the
    // equator, and the polyline keeps to the head's and the destination's circle throughout.
    const float slow = 374.76f;
    struct {
        GeoPoint s, d;
        float degrees;
    } overPole[] = {{GeoPoint(90, 0, 0), GeoPoint(-90, 0, 0), 180},
                    {GeoPoint(90, 30, 2000000), GeoPoint(-30, -150, 2000000), 120},
                    {GeoPoint(80, -100, 3800000), GeoPoint(-42, 80, 1300000), 142},
                    {GeoPoint(-90, 0, 2500000), GeoPoint(26.5f, 50, 2500000), 116.5f}};
    for (auto& r : overPole) {
        GeoTrace t(r.s, r.d);
        GeoTrace twin(GeoPoint(0, 0, r.s.Altitude), GeoPoint(0, r.degrees, r.d.Altitude));
        const int twinCalls = travel(twin, slow, 100000);
        int calls = 0;
        for (; calls < 2 * twinCalls && t.move(slow); ++calls) {
            ASSERT_LT(offCircle(t), 1e-6) << r.degrees << " " << calls;
        }
        EXPECT_NEAR(double(calls) / twinCalls, 1, 0.005) << r.degrees;
        EXPECT_TRUE(samePlace(t.src(), t.dest())) << r.degrees;
        if (r.degrees == 180) {
            EXPECT_NEAR(calls, PI / (2 * MI * slow / STEP), 10);
        }
    }

    // Approaching the antipode changes neither the step, nor the count of steps, nor the path
    // abruptly: not at the fixed circle's limit (1e-6 rad, 6e-5 degrees), nor at the bend's
    // (1e-3 rad, 0.057 degrees), within which ends at different heights are taken as well. Each
    // pair of heights is compared with its own exactly opposite case. The heads keep to the
    // great circle of the first path; after a first step on the fixed circle they leave it by
    // the ends' angle to opposite over the step's angle at most.
    const std::pair<float, float> heights[] = {
        {0.f, 0.f}, {1200000.f, 1200000.f}, {1200000.f, 0.f}, {0.f, 1200000.f}};
    for (auto alt : heights) {
        double firstRef = 0, callsRef = 0;
        for (double delta :
             {0.0, 1e-5, 4.6e-5, 7e-5, 1e-4, 1e-3, 1e-2, 0.05, 0.1, 0.3, 1.0, 1.1, 1.5, 3.0}) {
            if (alt.first != alt.second && delta > 0.05) continue;
            GeoTrace t(GeoPoint(10, 20, alt.first), GeoPoint(-10, 200 - delta, alt.second));
            T_PointVector pts = t.getPoints();
            V n = cross(v(pts[0]), v(pts[16]));
            Point start = head(t);
            ASSERT_TRUE(t.move(STEP));
            double first = angle(start, head(t)) / (2 * MI);
            double calls = 1, off = offPlane(n, head(t));
            for (; calls < 20000 && t.move(STEP); ++calls)
                off = std::max(off, offPlane(n, head(t)));
            if (delta == 0) firstRef = first, callsRef = calls;
            EXPECT_NEAR(first / firstRef, 1, 0.05)
                << delta << " " << alt.first << " " << alt.second;
            EXPECT_NEAR(calls / callsRef, (180 - delta) / 180, 0.01) << delta << " " << alt.first;
            EXPECT_LT(off, 5e-3) << delta << " " << alt.first << " " << alt.second;
        }
        if (alt.first == 0 && alt.second == 0) {
            EXPECT_NEAR(callsRef, PI / (2 * MI), 10);
        }
    }
}

TEST(TraceMove, NoArrivalWithoutAStep) {
    GeoTrace same(GeoPoint(1, 20, 30, 0), GeoPoint(2, 20, 30, 0));
    for (float d : {0.f, -5.f, STEP}) EXPECT_FALSE(same.move(d)) << d;
    EXPECT_TRUE(finite(same));

    GeoTrace t = demo();
    T_PointVector before = t.getPoints();
    for (float d : {0.f, -1000.f, -1e30f, NAN}) EXPECT_TRUE(t.move(d)) << d;
    EXPECT_TRUE(t.getPoints() == before);
    EXPECT_TRUE(samePlace(t.src(), demo().src()));
    travel(t, 1e6);
    EXPECT_FALSE(t.move(0));

    // Steps too short to register must not pass for arrival through rounding.
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-85, 85);
    for (int i = 0; i < 2000; ++i) {
        GeoTrace r(GeoPoint(u(rng), 2 * u(rng), i % 2 * 1e6f), GeoPoint(u(rng), 2 * u(rng), 0));
        ASSERT_TRUE(r.move(1e-3f)) << i;
    }
}

TEST(TraceOperations, RandomSequencesLeaveNoNaN) {
    std::mt19937 rng(20261207);
    std::uniform_real_distribution<float> u(0, 1);
    auto place = [&]() {
        return GeoPoint(u(rng) * 180 - 90, u(rng) * 800 - 400, u(rng) * 4.7e7f - 7e6f);
    };
    auto point = [&]() {
        return Point(u(rng) * 200 - 100, u(rng) * 200 - 100, u(rng) * 200 - 100);
    };
    GeoTrace t(place(), place());
    for (int i = 0; i < 3000; ++i) {
        GeoPoint a = t.src();
        switch (rng() % 10) {
            case 0: t.src(place()); break;
            case 1: t.dest(place()); break;
            case 2: t.src(rng() % 2 ? center : point()); break;
            case 3: t.dest(rng() % 2 ? head(t) * -1.0f : point()); break;
            case 4:
                t.dest(GeoPoint(-a.Latitude * 180 / PI, a.Longtitude * 180 / PI + 180, a.Altitude));
                break;
            case 5: t.src(t.dest()); break;
            default: t.move(std::pow(10.0f, u(rng) * 12 - 3) * (rng() % 5 ? 1 : -1)); break;
        }
        ASSERT_TRUE(finite(t)) << i;
    }
}

// The head stays on the great circle between the two ends, ends where dest() says, and at
// sea level each step covers twice the step angle (to first order: the check keeps away
// from the antipode, where the next term grows).
TEST(TraceTravel, RandomPairsFollowTheGreatCircle) {
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> u(0, 1);
    const float dist = 20000;
    const double mi = MI * dist / STEP;
    for (int pair = 0; pair < 40; ++pair) {
        bool sea = pair % 2 == 0;
        GeoPoint s(u(rng) * 170 - 85, u(rng) * 360 - 180, sea ? 0 : u(rng) * 2e6f);
        GeoPoint d(u(rng) * 170 - 85, u(rng) * 360 - 180, sea ? 0 : u(rng) * 2e6f);
        Point ps = s.point(), pd = d.point(), prev = ps;
        double total = angle(ps, pd);
        if (total < 0.02 || total > PI - 0.02) continue;
        GeoTrace t(s, d);
        for (int calls = 0; t.move(dist); ++calls) {
            Point h = head(t);
            ASSERT_LT(offPlane(cross(v(ps), v(pd)), h), 1e-5) << pair << " " << calls;
            ASSERT_NEAR(angle(ps, h) + angle(h, pd), total, 1e-5) << pair << " " << calls;
            ASSERT_GT(angle(ps, h), angle(ps, prev)) << pair << " " << calls;
            double left = angle(prev, pd);
            if (sea && left > 10 * mi && left < 2.6) {
                ASSERT_NEAR(angle(prev, h) / (2 * mi), 1, 0.015) << pair << " " << calls;
            }
            prev = h;
            ASSERT_LT(calls, 20000);
        }
        EXPECT_TRUE(samePlace(t.src(), d));
        EXPECT_LT(angle(prev, pd), (sea ? 2.01 : 2.5) * mi) << pair;
    }
}
