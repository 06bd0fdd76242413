// Constant coefficient tables of the homogeneous half-space plate solution.
//
// PLATETAB holds 300 rows x 20 columns (column-major). The column is the rho
// grid index; the rows form four blocks (inner, near, far, edge), and within a
// block coefficient function k (1..6) takes NY consecutive rows, one per zeta
// grid value. The functions tabulated are, with
//   I(mu, p) = integral_0^inf m^p J_mu(m rho) J1(m) exp(-m zeta) dm,
//   S1 = I(1,-1), S2 = (rho-1)^4 I(1,1), S3 = (rho-1)^2 I(1,0),
//   S4 = I(0,-1), S5 = (rho-1)^3 I(0,1), S6 = I(0,0),
// evaluated at the grid values below exactly as they are held (4-byte
// constants widened to 8 bytes). tools/platetab_gen generates the values.
#pragma once

namespace zalk::plate {

inline constexpr int kPlateRows = 300;
inline constexpr int kPlateCols = 20;
inline constexpr int kPlateFunctions = 6;

// The 6000 table values, PLATETAB(row, col) = kPlateTab[(row-1) + (col-1)*300].
extern const double kPlateTab[kPlateRows * kPlateCols];

// Grid vectors: every value is a 4-byte constant widened to 8 bytes.
inline constexpr double kRhoIn[20] = {
    double(0.0f),      double(0.0526316f), double(0.105263f), double(0.157895f),
    double(0.210526f), double(0.263158f),  double(0.315789f), double(0.368421f),
    double(0.421053f), double(0.473684f),  double(0.526316f), double(0.578947f),
    double(0.631579f), double(0.684211f),  double(0.736842f), double(0.789474f),
    double(0.842105f), double(0.894737f),  double(0.947368f), double(1.0f)};
inline constexpr double kZetaShort[10] = {double(0.0f),  double(0.05f), double(0.1f),
                                          double(0.15f), double(0.2f),  double(0.25f),
                                          double(0.3f),  double(0.35f), double(0.4f),
                                          double(0.45f)};
inline constexpr double kRhoNear[20] = {
    double(1.0f),     double(1.0884f),  double(1.18461f), double(1.28933f), double(1.4033f),
    double(1.52735f), double(1.66237f), double(1.80932f), double(1.96926f), double(2.14334f),
    double(2.33281f), double(2.53902f), double(2.76347f), double(3.00776f), double(3.27364f),
    double(3.56302f), double(3.87799f), double(4.22079f), double(4.59391f), double(5.0f)};
inline constexpr double kRhoFar[20] = {
    double(5.0f),     double(5.53922f), double(6.1366f),  double(6.7984f),  double(7.53157f),
    double(8.34381f), double(9.24364f), double(10.2405f), double(11.3449f), double(12.5684f),
    double(13.9238f), double(15.4254f), double(17.089f),  double(18.9319f), double(20.9736f),
    double(23.2355f), double(25.7414f), double(28.5174f), double(31.5929f), double(35.0f)};
inline constexpr double kRhoEdge[20] = {
    double(0.82f), double(0.84f), double(0.86f), double(0.88f), double(0.9f),
    double(0.92f), double(0.94f), double(0.96f), double(0.98f), double(1.0f),
    double(1.02f), double(1.04f), double(1.06f), double(1.08f), double(1.1f),
    double(1.12f), double(1.14f), double(1.16f), double(1.18f), double(1.2f)};
inline constexpr double kZetaEdge[20] = {
    double(0.0f),  double(0.01f), double(0.02f), double(0.03f), double(0.04f),
    double(0.05f), double(0.06f), double(0.07f), double(0.08f), double(0.09f),
    double(0.1f),  double(0.12f), double(0.15f), double(0.17f), double(0.2f),
    double(0.25f), double(0.3f),  double(0.35f), double(0.4f),  double(0.45f)};

// One range block of the table.
struct PlateBlock {
  int first_row;        // 1-based row of function 1 at the first zeta value
  const double* rho;    // 20 grid values
  const double* zeta;   // ny grid values
  int ny;
};

enum PlateBlockId : int { kInnerBlock = 0, kNearBlock = 1, kFarBlock = 2, kEdgeBlock = 3 };

inline constexpr PlateBlock kPlateBlocks[4] = {
    {1, kRhoIn, kZetaShort, 10},
    {61, kRhoNear, kZetaShort, 10},
    {121, kRhoFar, kZetaShort, 10},
    {181, kRhoEdge, kZetaEdge, 20},
};

// Block for abscissa rho, from h = trunc(100 rho): inner for h <= 81, edge
// for 82..119, near for 120..499, far beyond (NaN also goes to the far block,
// whose evaluation then reports the point as outside the grid).
int plate_block_of(double rho);

// Row (1-based) of function k (1..6) at zeta index i (1..ny) in a block.
constexpr int plate_row(const PlateBlock& b, int k, int i) { return b.first_row + (k - 1) * b.ny + i - 1; }

// Working copy of the tables: PLATETAB, the eight grid vectors and their counts.
struct PlateTables {
  double tab[kPlateRows * kPlateCols];
  double rhoin[20], zin[10], rhonear[20], znear[10], rhofar[20], zfar[10], rhoedge[20], zedge[20];
  int nrhoin, nzin, nrhonear, nznear, nrhofar, nzfar, nrhoedge, nzedge;
};

// Copies the constant tables into the working arrays and sets the grid counts.
void plate_tables(PlateTables& t);

}  // namespace zalk::plate
