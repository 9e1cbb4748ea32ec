// Scene points, vectors, lines and the geographic conversions.
#include "point.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

namespace {

void expectAt(const Point& p, double x, double y, double z, double tol = 1e-5) {
    EXPECT_NEAR(p.x, x, tol);
    EXPECT_NEAR(p.y, y, tol);
    EXPECT_NEAR(p.z, z, tol);
}
template <typename T>
std::string text(const T& v) {
    std::ostringstream os;
    os << v;
    return os.str();
}
}  // namespace

TEST(Conversion, BothWaysAndRoundTrips) {
    expectAt(GeoPoint(0, 0, 0).point(), 0, 0, 15);
    expectAt(GeoPoint(0, 90, 0).point(), 15, 0, 0);
    expectAt(GeoPoint(90, 0, 0).point(), 0, 15, 0);
    expectAt(GeoPoint(-45, 0, 500000).point(), 0, -11.4225, 11.4225, 1e-3);
    EXPECT_NEAR(GeoPoint(-45, 0, 500000).point().distance(center), 16.1538, 1e-3);
    expectAt(GeoPoint(49.28f, 17.27f, 1200000).point(), 3.441, 13.467, 11.069, 1e-3);
    GeoPoint g(1, 45, 90, 10000);
    EXPECT_EQ(g.id, 1u);
    EXPECT_FLOAT_EQ(g.Latitude, PI / 4);
    EXPECT_FLOAT_EQ(g.Longtitude, PI / 2);
    EXPECT_EQ(g.point().id, 0u);

    GeoPoint top = Point(0, 15, 0).geoPoint();
    EXPECT_FLOAT_EQ(top.Latitude, PI / 2);
    EXPECT_EQ(top.Longtitude, 0);
    EXPECT_NEAR(top.Altitude, 0, 1e-3);
    EXPECT_FLOAT_EQ(Point(0, 0, -7).geoPoint().Longtitude, PI);
    EXPECT_EQ(center.geoPoint().Altitude, -6500000);
    EXPECT_TRUE(std::isnan(center.geoPoint().Latitude));

    for (float alt : {0.f, 500000.f, 1200000.f})
        for (int lat = -85; lat <= 85; lat += 17)
            for (int lon = -180; lon <= 180; lon += 15) {
                GeoPoint back = GeoPoint(7, lat, lon, alt).point().geoPoint();
                EXPECT_EQ(back.id, 0u);
                EXPECT_NEAR(back.Latitude, lat * PI / 180, 2e-6) << lat << " " << lon;
                EXPECT_NEAR(std::remainder(back.Longtitude - lon * PI / 180, 2 * PI), 0, 2e-6);
                EXPECT_LE(std::fabs(back.Longtitude), PI + 1e-6);
                EXPECT_NEAR(back.Altitude, alt, 1.0) << lat << " " << lon;
            }
}

TEST(Operators, CrossScaleSumEquality) {
    EXPECT_TRUE((Vector(1, 0, 0) * Vector(0, 1, 0)).point() == Point(0, 0, 1));
    EXPECT_TRUE(Vector(4, 5, 6).mult(Vector(1, 2, 3)).point() == Point(3, -6, 3));
    Point sum = Point(3, 1, 2, 3, 9) * 2 + Point(4, 1, 1, 1);
    EXPECT_TRUE(sum == Point(3, 5, 7));
    EXPECT_EQ(sum.id, 0u);
    EXPECT_EQ(sum.size, 0.5f);
    EXPECT_TRUE(Point(1, 1, 2, 3, 4) == Point(2, 1, 2, 3));
    EXPECT_FALSE(Point(1, 2, 3) == Point(1, 2, 3.5f));
    EXPECT_FALSE(Point(NAN, 2, 3) == Point(NAN, 2, 3));
}

TEST(Line, SurfHitMissTouchBehind) {
    Line axis(Point(0, 0, 50), Point(0, 0, -50));
    EXPECT_TRUE(axis.surf().nearside);
    expectAt(axis.surf(), 0, 0, 15);
    expectAt(axis.surf(6500000), 0, 0, 30);
    Point touch = Line(Point(15, 0, 50), Point(15, 0, -50)).surf();
    EXPECT_TRUE(touch.nearside);
    expectAt(touch, 15, 0, 0);
    expectAt(Line(center, Point(0, 0, -1)).surf(), 0, 0, 15);
    // A line that passes by, and one without direction: misses at (0, 0, 0).
    for (Line l :
         {Line(Point(20, 0, 50), Point(20, 0, -50)), Line(Point(1, 2, 3), Point(1, 2, 3))}) {
        Point miss = l.surf();
        EXPECT_FALSE(miss.nearside);
        EXPECT_TRUE(miss == center);
    }
}

TEST(Line, DistanceAndNearside) {
    struct Case {
        Line line;
        Point p;
        float dist;
        bool nearside;
    } cases[] = {{Line(Point(0, 0, 50), Point(0, 0, -50)), Point(3, 4, 0), 5, false},
                 {Line(Point(0, 0, 50), Point(0, 0, -50)), Point(0, 0, 15), 0, true},
                 {Line(Point(0, 0, 50), Point(0, 0, -50)), Point(0, 0, -15), 0, false},
                 {Line(Point(1, 1, 1), Point(2, 1, 1)), Point(5, 4, 5), 5, false},
                 {Line(Point(1, 1, 1), Point(2, 1, 1)), Point(-5, 4, 5), 5, true},
                 {Line(Point(1, 2, 3), Point(1, 2, 3)), Point(4, 6, 3), 5, false}};
    for (Case& c : cases) {
        c.p.nearside = !c.nearside;
        EXPECT_FLOAT_EQ(c.line.distance(c.p), c.dist) << c.line << " / " << c.p;
        EXPECT_EQ(c.p.nearside, c.nearside) << c.line << " / " << c.p;
    }
}

TEST(Text, IdOnlyWhenSetAndSixDigits) {
    EXPECT_EQ(text(Point(7, 1.5f, -2, 0.25f)), "7: 1.5 -2 0.25");
    EXPECT_EQ(text(Point(1.5f, -2, 0.25f)), "1.5 -2 0.25");
    EXPECT_EQ(text(Point(3.14159265f, 1234567.f, 0.000123456789f)),
              "3.14159 1.23457e+06 0.000123457");
    EXPECT_EQ(text(GeoPoint(9, 0, 90, 12.5f)), "9: 0 1.5708 12.5");
    EXPECT_EQ(text(GeoPoint(-90, 0, 0)), "-1.5708 0 0");
    EXPECT_EQ(text(Line(Point(1, 2, 3), Point(4, 4, 5, 6))), "1 2 3 4: 4 5 6");
}
