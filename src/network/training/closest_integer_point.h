#pragma once
// The integer vector z nearest to a real vector c under a quadratic form G
// (positive definite): the z that minimises (z - c)' G (z - c). Rounding each
// weight on its own is far from it when G's directions are correlated, as the
// module's output layer is: its sources are hidden bytes, all 0..255, that often
// move together, so a step up on one weight and down on another changes the sum
// little, and the best integer net is many such steps away from the rounded one.
// The lattice basis is first reduced (LLL), then the points within the best
// distance found are enumerated (Schnorr-Euchner), at most `nodeLimit` of them:
// a count, not a time, so the answer is the same on every machine.
//
// Thread rules: a pure function.

#include <Eigen/Core>
#include <cstdint>

namespace training {

// `g`: n x n, symmetric positive definite; `c`: n. Returns the best point found
// (exact when the enumeration ended within nodeLimit, else the best seen, never
// worse than rounding c coordinate by coordinate in the reduced basis).
[[nodiscard]] Eigen::VectorXd ClosestIntegerPoint(const Eigen::MatrixXd& g,
                                                  const Eigen::VectorXd& c,
                                                  std::uint64_t nodeLimit);

}  // namespace training
