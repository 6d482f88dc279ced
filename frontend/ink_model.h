// A model of the model 316's four inks on paper: what colour a given
// coverage of C, M, Y and K makes, and the coverages that make a colour.
// It is a model, not a measurement: the default ink profiles are built from
// it, and the colour tests simulate a print with it. A measured profile
// given by the user replaces it for printing.
//
// The model: paper and inks as reflectances in three broad bands (linear
// RGB with the sRGB primaries), an overprint of inks multiplies their band
// transmittances (subtractive mixing), the area each ink covers grows by a
// dot gain, and the colour of a halftone is the Yule-Nielsen average of its
// Neugebauer primaries (every overprint of the four inks) weighted by the
// Demichel equations.
#ifndef QX316_FRONTEND_INK_MODEL_H
#define QX316_FRONTEND_INK_MODEL_H

namespace qx316 {

struct Lab {
    double L = 0, a = 0, b = 0;
};

struct InkModelParams {
    const char *name;   // what the parameters stand for
    double paper[3];    // band reflectance of bare paper
    double ink[4][3];   // band transmittance (both ways) of a solid C, M, Y and K layer
    double dotGain;     // added coverage at 50 % (0.12 = a 50 % dot covers 62 %)
    double yuleNielsen; // Yule-Nielsen n (1 = Murray-Davies)
    double inkLimit;    // most ink a pixel lays, as a sum of the four coverages
};

// The parameters a media class prints with (class 0..12, see
// GetIndexMediaType). Every class shares one set until one is measured.
const InkModelParams &inkModelFor(int mediaClass);

class InkModel {
public:
    explicit InkModel(const InkModelParams &p);

    // Colour of coverages c, m, y, k (0..1 each) under D50, relative to the
    // paper (the paper is L* 100, a* b* 0): what a media-relative profile
    // holds. absoluteLab is the colour as measured.
    Lab relativeLab(const double cmyk[4]) const;
    Lab absoluteLab(const double cmyk[4]) const;
    // The paper's CIE XYZ under D50 (Y 0..1): a profile's media white point.
    void paperXYZ(double xyz[3]) const;

    // Coverages whose relative colour comes closest to lab (CIE76 distance)
    // within the ink limit, with K laid by a grey-component rule (withK), or
    // none. Returns the distance left: about 0 inside the gamut.
    double invert(const Lab &lab, bool withK, double cmyk[4]) const;

    // Lightness of solid K (relative L*): the black the perceptual and
    // saturation mappings aim at.
    double blackL() const { return blackL_; }
    // The K coverage alone that makes lightness L (1 for anything darker).
    double kForLightness(double L) const;
    const InkModelParams &params() const { return p_; }

private:
    void bands(const double cmyk[4], double r[3]) const;
    double solveCmy(const Lab &lab, double k, double cmy[3]) const;

    InkModelParams p_;
    double primary_[16][3]; // band reflectance of each overprint (bit i: ink i), relative to paper
    double blackL_ = 0;
};

// CIE XYZ (D50, Y 0..1) to CIE L*a*b* and back.
Lab xyzToLab(const double xyz[3]);
void labToXyz(const Lab &lab, double xyz[3]);

} // namespace qx316

#endif
