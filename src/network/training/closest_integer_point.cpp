#include "network/training/closest_integer_point.h"

#include <Eigen/Cholesky>
#include <Eigen/QR>
#include <algorithm>
#include <cmath>
#include <limits>

namespace training {
namespace {

using Matrix = Eigen::MatrixXd;
using Vector = Eigen::VectorXd;

// R of B = QR: its diagonal holds the lengths of the Gram-Schmidt vectors (up to
// sign, which every ratio used below cancels).
Matrix UpperFactor(const Matrix& b) {
    Eigen::HouseholderQR<Matrix> qr(b);
    return qr.matrixQR().triangularView<Eigen::Upper>();
}

// LLL reduction (delta 0.75) of the columns of `b`; `u` follows every column
// operation, so that b_reduced = b_given x u with u unimodular.
void Reduce(Matrix& b, Matrix& u) {
    const int n = static_cast<int>(b.cols());
    Matrix r = UpperFactor(b);
    // The swaps are bounded in theory; the guard only keeps rounding from looping.
    for (int k = 1, guard = 0; k < n && guard < 100000; ++guard) {
        for (int j = k - 1; j >= 0; --j) {
            const double mu = std::nearbyint(r(j, k) / r(j, j));
            if (mu == 0.0) continue;
            b.col(k) -= mu * b.col(j);
            u.col(k) -= mu * u.col(j);
            r.col(k) -= mu * r.col(j);
        }
        const double previous = r(k - 1, k - 1) * r(k - 1, k - 1);
        const double here = r(k - 1, k) * r(k - 1, k) + r(k, k) * r(k, k);
        if (0.75 * previous > here) {
            b.col(k).swap(b.col(k - 1));
            u.col(k).swap(u.col(k - 1));
            r = UpperFactor(b);
            k = std::max(k - 1, 1);
        } else {
            ++k;
        }
    }
}

// Schnorr-Euchner enumeration of min |R y - t|^2 over integer y, R upper
// triangular: the last coordinate first, each coordinate's values in order of
// their distance from its centre, a branch left as soon as it cannot beat the best.
class Enumeration {
public:
    Enumeration(const Matrix& r, const Vector& t, std::uint64_t limit)
        : r_(r), t_(t), y_(Vector::Zero(r.cols())), best_(y_), limit_(limit) {}

    Vector Run() {
        Search(static_cast<int>(r_.cols()) - 1, 0.0);
        return best_;
    }

private:
    void Search(int k, double partial) {
        double s = t_[k];
        for (int j = k + 1; j < r_.cols(); ++j) s -= r_(k, j) * y_[j];
        const double centre = s / r_(k, k);
        const double first = std::nearbyint(centre);
        const double side = centre >= first ? 1.0 : -1.0;
        for (int i = 0;; ++i) {
            // first, first + side, first - side, first + 2 side, ...
            const double offset = (i + 1) / 2 * (i % 2 == 1 ? side : -side);
            const double v = first + offset;
            const double d = r_(k, k) * (v - centre);
            const double distance = partial + d * d;
            if (distance >= bestDistance_) return;
            ++nodes_;
            y_[k] = v;
            if (k == 0) {
                bestDistance_ = distance;
                best_ = y_;
            } else {
                Search(k - 1, distance);
            }
            // A best point is always found first (the first descent is Babai's).
            if (nodes_ >= limit_) return;
        }
    }

    const Matrix& r_;
    const Vector& t_;
    Vector y_, best_;
    double bestDistance_ = std::numeric_limits<double>::infinity();
    std::uint64_t nodes_ = 0;
    std::uint64_t limit_;
};

}  // namespace

Vector ClosestIntegerPoint(const Matrix& g, const Vector& c, std::uint64_t nodeLimit) {
    const int n = static_cast<int>(c.size());
    // (z - c)' G (z - c) = |L'(z - c)|^2: the lattice spanned by the columns of L'.
    Matrix b = Eigen::LLT<Matrix>(g).matrixU();
    Matrix u = Matrix::Identity(n, n);
    const Vector target = b * c;
    Reduce(b, u);
    Eigen::HouseholderQR<Matrix> qr(b);
    const Matrix r = qr.matrixQR().triangularView<Eigen::Upper>();
    const Vector t = qr.householderQ().transpose() * target;
    const Vector y = Enumeration(r, t, std::max<std::uint64_t>(nodeLimit, n)).Run();
    return u * y;
}

}  // namespace training
