#include "ink_model.h"

#include <algorithm>
#include <cmath>

namespace qx316 {

namespace {

// Band reflectances are linear RGB with the sRGB primaries, adapted to D50
// (Bradford): bands of 1, 1, 1 are the D50 white.
constexpr double kToXyz[3][3] = {
    {0.4360747, 0.3850649, 0.1430804},
    {0.2225045, 0.7168786, 0.0606169},
    {0.0139322, 0.0971045, 0.7141733},
};
constexpr double kD50[3] = {0.9642, 1.0, 0.8249};

// A plain paper and dye inks: values picked so that the solids land where
// such inks are usually found (cyan near L* 55, magenta 50, yellow 88,
// black 15, paper 95), not measured on this printer.
constexpr InkModelParams kPlainPaper = {
    "plain paper and dye inks",
    {0.88, 0.89, 0.91},
    {{0.08, 0.55, 0.86}, {0.86, 0.12, 0.42}, {0.94, 0.86, 0.07}, {0.025, 0.025, 0.025}},
    0.12,
    1.6,
    3.0,
};

double labF(double t) { return t > 216.0 / 24389.0 ? std::cbrt(t) : (24389.0 / 27.0 * t + 16.0) / 116.0; }
double labFInv(double f) { return f * f * f > 216.0 / 24389.0 ? f * f * f : (116.0 * f - 16.0) * 27.0 / 24389.0; }

Lab bandsToLab(const double r[3]) {
    double xyz[3];
    for (int i = 0; i < 3; ++i)
        xyz[i] = kToXyz[i][0] * r[0] + kToXyz[i][1] * r[1] + kToXyz[i][2] * r[2];
    return xyzToLab(xyz);
}

double dist2(const Lab &x, const Lab &y) {
    const double dl = x.L - y.L, da = x.a - y.a, db = x.b - y.b;
    return dl * dl + da * da + db * db;
}

// Solves the 3 x 3 system m x = v by Cramer's rule; false when singular.
bool solve3(const double m[3][3], const double v[3], double x[3]) {
    const auto det = [](const double a[3][3]) {
        return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
               a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    };
    const double d = det(m);
    if (std::fabs(d) < 1e-12)
        return false;
    for (int c = 0; c < 3; ++c) {
        double t[3][3];
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                t[i][j] = j == c ? v[i] : m[i][j];
        x[c] = det(t) / d;
    }
    return true;
}

} // namespace

Lab xyzToLab(const double xyz[3]) {
    const double fx = labF(xyz[0] / kD50[0]), fy = labF(xyz[1] / kD50[1]), fz = labF(xyz[2] / kD50[2]);
    return {116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)};
}

void labToXyz(const Lab &lab, double xyz[3]) {
    const double fy = (lab.L + 16.0) / 116.0, fx = fy + lab.a / 500.0, fz = fy - lab.b / 200.0;
    xyz[0] = kD50[0] * labFInv(fx);
    xyz[1] = kD50[1] * labFInv(fy);
    xyz[2] = kD50[2] * labFInv(fz);
}

const InkModelParams &inkModelFor(int) { return kPlainPaper; }

InkModel::InkModel(const InkModelParams &p) : p_(p) {
    for (int s = 0; s < 16; ++s)
        for (int b = 0; b < 3; ++b) {
            double r = 1.0;
            for (int i = 0; i < 4; ++i)
                if (s & (1 << i))
                    r *= p.ink[i][b];
            // Kept as r^(1/n), the form the Yule-Nielsen average sums.
            primary_[s][b] = std::pow(r, 1.0 / p.yuleNielsen);
        }
    // The darkest neutral the mapping intents aim at: K alone, so that
    // black and the dark grays of text print in K without colour under it.
    const double full[4] = {0, 0, 0, 1};
    blackL_ = relativeLab(full).L;
}

double InkModel::kForLightness(double L) const {
    double lo = 0.0, hi = 1.0;
    for (int i = 0; i < 40; ++i) {
        const double mid = (lo + hi) / 2, v[4] = {0, 0, 0, mid};
        (relativeLab(v).L > L ? lo : hi) = mid;
    }
    return (lo + hi) / 2;
}

void InkModel::bands(const double cmyk[4], double r[3]) const {
    double a[4];
    for (int i = 0; i < 4; ++i) {
        const double v = std::clamp(cmyk[i], 0.0, 1.0);
        a[i] = std::clamp(v + 4.0 * p_.dotGain * v * (1.0 - v), 0.0, 1.0);
    }
    double sum[3] = {0, 0, 0};
    for (int s = 0; s < 16; ++s) {
        double w = 1.0;
        for (int i = 0; i < 4; ++i)
            w *= s & (1 << i) ? a[i] : 1.0 - a[i];
        if (w == 0.0)
            continue;
        for (int b = 0; b < 3; ++b)
            sum[b] += w * primary_[s][b];
    }
    for (int b = 0; b < 3; ++b)
        r[b] = std::pow(sum[b], p_.yuleNielsen);
}

Lab InkModel::relativeLab(const double cmyk[4]) const {
    double r[3];
    bands(cmyk, r);
    return bandsToLab(r);
}

Lab InkModel::absoluteLab(const double cmyk[4]) const {
    double r[3];
    bands(cmyk, r);
    for (int b = 0; b < 3; ++b)
        r[b] *= p_.paper[b];
    return bandsToLab(r);
}

void InkModel::paperXYZ(double xyz[3]) const {
    for (int i = 0; i < 3; ++i)
        xyz[i] = kToXyz[i][0] * p_.paper[0] + kToXyz[i][1] * p_.paper[1] + kToXyz[i][2] * p_.paper[2];
}

// Levenberg-Marquardt on the CIE76 distance over C, M, Y with K fixed,
// starting from the Beer-law estimate (densities add), kept inside 0..1
// and the ink limit. Returns the distance left.
double InkModel::solveCmy(const Lab &lab, double k, double cmy[3]) const {
    // Start: the band densities the target needs, shared out by the inks'
    // densities.
    double xyz[3];
    labToXyz(lab, xyz);
    constexpr double kFromXyz[3][3] = {
        {3.1338561, -1.6168667, -0.4906146},
        {-0.9787684, 1.9161415, 0.0334540},
        {0.0719453, -0.2289914, 1.4052427},
    };
    double dens[3], inkDens[3][3];
    for (int b = 0; b < 3; ++b) {
        const double r = kFromXyz[b][0] * xyz[0] + kFromXyz[b][1] * xyz[1] + kFromXyz[b][2] * xyz[2];
        dens[b] = -std::log(std::max(r, 1e-4)) + k * std::log(p_.ink[3][b]);
        for (int i = 0; i < 3; ++i)
            inkDens[b][i] = -std::log(p_.ink[i][b]);
    }
    if (!solve3(inkDens, dens, cmy))
        cmy[0] = cmy[1] = cmy[2] = 0.5;
    const double room = std::max(0.0, p_.inkLimit - k);
    const auto fit = [&](double *x) {
        for (int i = 0; i < 3; ++i)
            x[i] = std::clamp(x[i], 0.0, 1.0);
        const double sum = x[0] + x[1] + x[2];
        if (sum > room)
            for (int i = 0; i < 3; ++i)
                x[i] *= room / sum;
    };
    fit(cmy);
    const auto eval = [&](const double *x) {
        const double v[4] = {x[0], x[1], x[2], k};
        return relativeLab(v);
    };
    Lab cur = eval(cmy);
    double err = dist2(cur, lab);
    double lambda = 1e-3;
    for (int it = 0; it < 60 && err > 1e-4; ++it) {
        double jac[3][3]; // d(L, a, b) / d(c, m, y)
        const double h = 1e-4;
        for (int i = 0; i < 3; ++i) {
            double x[3] = {cmy[0], cmy[1], cmy[2]};
            const double step = x[i] + h <= 1.0 ? h : -h;
            x[i] += step;
            const Lab l = eval(x);
            jac[0][i] = (l.L - cur.L) / step;
            jac[1][i] = (l.a - cur.a) / step;
            jac[2][i] = (l.b - cur.b) / step;
        }
        const double f[3] = {cur.L - lab.L, cur.a - lab.a, cur.b - lab.b};
        double jtj[3][3], jtf[3];
        for (int i = 0; i < 3; ++i) {
            jtf[i] = -(jac[0][i] * f[0] + jac[1][i] * f[1] + jac[2][i] * f[2]);
            for (int j = 0; j < 3; ++j)
                jtj[i][j] = jac[0][i] * jac[0][j] + jac[1][i] * jac[1][j] + jac[2][i] * jac[2][j];
        }
        bool improved = false;
        for (int tries = 0; tries < 8 && !improved; ++tries) {
            double m[3][3], d[3];
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    m[i][j] = jtj[i][j] + (i == j ? lambda * (jtj[i][i] + 1e-6) : 0.0);
            if (!solve3(m, jtf, d)) {
                lambda *= 10;
                continue;
            }
            double x[3] = {cmy[0] + d[0], cmy[1] + d[1], cmy[2] + d[2]};
            fit(x);
            const Lab l = eval(x);
            const double e = dist2(l, lab);
            if (e < err) {
                const double gain = err - e;
                std::copy(x, x + 3, cmy);
                cur = l;
                err = e;
                lambda = std::max(lambda / 4, 1e-7);
                improved = true;
                if (gain < 1e-7)
                    return std::sqrt(err);
            } else {
                lambda *= 8;
            }
        }
        if (!improved)
            break;
    }
    return std::sqrt(err);
}

double InkModel::invert(const Lab &lab, bool withK, double cmyk[4]) const {
    double cmy[3];
    double err = solveCmy(lab, 0.0, cmy);
    double k = 0.0;
    if (withK) {
        // Neutrals (chroma up to 4) print in K as far as K reaches; colours get K by
        // grey-component replacement (none below a 10 % grey component,
        // all of it at 70 % and beyond); between the two by chroma.
        const double grey = std::min(cmy[0], std::min(cmy[1], cmy[2]));
        const double t = std::clamp((grey - 0.1) / 0.6, 0.0, 1.0);
        const double byGrey = t * t * (3.0 - 2.0 * t) * grey;
        const double w = std::clamp((std::hypot(lab.a, lab.b) - 4.0) / 12.0, 0.0, 1.0);
        k = (1.0 - w) * kForLightness(lab.L) + w * byGrey;
        // Less K where it would leave the colour further from its aim.
        bool found = false;
        for (int i = 0; i < 6 && k > 1e-4 && !found; ++i) {
            double with[3];
            const double e = solveCmy(lab, k, with);
            if (e <= err + 0.5) {
                std::copy(with, with + 3, cmy);
                err = e;
                found = true;
            } else {
                k *= 0.7;
            }
        }
        if (!found)
            k = 0.0;
    }
    cmyk[0] = cmy[0];
    cmyk[1] = cmy[1];
    cmyk[2] = cmy[2];
    cmyk[3] = k;
    return err;
}

} // namespace qx316
