// Scene points, vectors, lines and the geographic conversions.
#include "point.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

namespace {

const double PI = 3.14159265358979323846;

void expectAt(const Point& p, double x, double y, double z, double tol) {
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

TEST(Conversion, PlacesToScenePoints) {
    expectAt(GeoPoint(0, 0, 0).point(), 0, 0, 15, 1e-5);
    expectAt(GeoPoint(0, 90, 0).point(), 15, 0, 0, 1e-5);
    expectAt(GeoPoint(90, 0, 0).point(), 0, 15, 0, 1e-5);
    Point south = GeoPoint(-45, 0, 500000).point();
    expectAt(south, 0, -11.4225, 11.4225, 1e-3);
    EXPECT_NEAR(south.distance(center), 16.1538, 1e-3);
    expectAt(GeoPoint(49.28f, 17.27f, 1200000).point(), 3.441, 13.467, 11.069, 1e-3);

    GeoPoint g(1, 45, 90, 10000);
    EXPECT_EQ(g.id, 1u);
    EXPECT_FLOAT_EQ(g.Latitude, PI / 4);
    EXPECT_FLOAT_EQ(g.Longtitude, PI / 2);
    EXPECT_EQ(g.Altitude, 10000);
    Point p = g.point();
    EXPECT_EQ(p.id, 0u);
    EXPECT_EQ(p.size, 0.5f);
}

TEST(Conversion, ScenePointsToPlacesAndRoundTrips) {
    GeoPoint top = Point(0, 15, 0).geoPoint();
    EXPECT_FLOAT_EQ(top.Latitude, PI / 2);
    EXPECT_EQ(top.Longtitude, 0);
    EXPECT_NEAR(top.Altitude, 0, 1e-3);
    EXPECT_FLOAT_EQ(Point(0, 0, -7).geoPoint().Longtitude, PI);
    GeoPoint c = center.geoPoint();
    EXPECT_EQ(c.Altitude, -6500000);
    EXPECT_EQ(c.Longtitude, 0);
    EXPECT_TRUE(std::isnan(c.Latitude));

    for (float alt : {0.f, 500000.f, 1200000.f}) {
        for (int lat = -85; lat <= 85; lat += 17) {
            for (int lon = -180; lon <= 180; lon += 15) {
                GeoPoint g(7, lat, lon, alt);
                GeoPoint back = g.point().geoPoint();
                EXPECT_EQ(back.id, 0u);
                EXPECT_NEAR(back.Latitude, g.Latitude, 2e-6) << lat << " " << lon;
                double dlon = std::remainder(back.Longtitude - g.Longtitude, 2 * PI);
                EXPECT_NEAR(dlon, 0, 2e-6) << lat << " " << lon;
                EXPECT_LT(back.Longtitude, PI + 1e-6);
                EXPECT_GT(back.Longtitude, -PI - 1e-6);
                EXPECT_NEAR(back.Altitude, alt, 1.0) << lat << " " << lon;
            }
        }
    }
}

TEST(Operators, CrossProductScalingSumAndEquality) {
    EXPECT_TRUE((Vector(1, 0, 0) * Vector(0, 1, 0)).point() == Point(0, 0, 1));
    EXPECT_TRUE(Vector(4, 5, 6).mult(Vector(1, 2, 3)).point() == Point(3, -6, 3));

    Point sum = Point(3, 1, 2, 3, 9) * 2 + Point(4, 1, 1, 1);
    EXPECT_TRUE(sum == Point(3, 5, 7));
    EXPECT_EQ(sum.id, 0u);
    EXPECT_EQ(sum.size, 0.5f);

    EXPECT_TRUE(Point(1, 1, 2, 3, 4) == Point(2, 1, 2, 3));
    EXPECT_FALSE(Point(1, 2, 3) == Point(1, 2, 3.5f));
    EXPECT_FALSE(Point(NAN, 2, 3) == Point(NAN, 2, 3));
    EXPECT_TRUE(center == Point());
    EXPECT_EQ(center.size, 0.5f);
}

TEST(Line, SurfTakesTheFirstCrossing) {
    Line axis(Point(0, 0, 50), Point(0, 0, -50));
    Point hit = axis.surf();
    expectAt(hit, 0, 0, 15, 1e-5);
    EXPECT_TRUE(hit.nearside);
    expectAt(axis.surf(6500000), 0, 0, 30, 1e-5);

    Point miss = Line(Point(20, 0, 50), Point(20, 0, -50)).surf();
    EXPECT_FALSE(miss.nearside);
    EXPECT_TRUE(miss == center);

    Point touch = Line(Point(15, 0, 50), Point(15, 0, -50)).surf();
    EXPECT_TRUE(touch.nearside);
    expectAt(touch, 15, 0, 0, 1e-5);

    Point behind = Line(Point(0, 0, 0), Point(0, 0, -1)).surf();
    EXPECT_TRUE(behind.nearside);
    expectAt(behind, 0, 0, 15, 1e-5);

    // No direction: a miss, not a division by zero.
    Line still(Point(1, 2, 3), Point(1, 2, 3));
    Point none = still.surf();
    EXPECT_FALSE(none.nearside);
    EXPECT_TRUE(none == center);
}

TEST(Line, DistanceAndNearside) {
    Line axis(Point(0, 0, 50), Point(0, 0, -50));
    Point side(3, 4, 0), front(0, 0, 15), back(0, 0, -15);
    side.nearside = front.nearside = true;
    EXPECT_FLOAT_EQ(axis.distance(side), 5);
    EXPECT_FALSE(side.nearside);
    EXPECT_FLOAT_EQ(axis.distance(front), 0);
    EXPECT_TRUE(front.nearside);
    EXPECT_FLOAT_EQ(axis.distance(back), 0);
    EXPECT_FALSE(back.nearside);

    // Off the origin: the foot lies beyond the segment's ends, the line is unbounded.
    Line along(Point(1, 1, 1), Point(2, 1, 1));
    Point ahead(5, 4, 5), rear(-5, 4, 5);
    EXPECT_FLOAT_EQ(along.distance(ahead), 5);
    EXPECT_FALSE(ahead.nearside);
    EXPECT_FLOAT_EQ(along.distance(rear), 5);
    EXPECT_TRUE(rear.nearside);

    Line still(Point(1, 2, 3), Point(1, 2, 3));
    Point p(4, 6, 3);
    p.nearside = true;
    EXPECT_FLOAT_EQ(still.distance(p), 5);
    EXPECT_FALSE(p.nearside);
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
