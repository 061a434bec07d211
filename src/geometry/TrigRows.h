// The C library's single-precision atanf, atan2f, sinf and cosf over arrays, with
// the bits that calling them one entry at a time gives.
#ifndef ZRFISHEYE_GEOMETRY_TRIGROWS_H
#define ZRFISHEYE_GEOMETRY_TRIGROWS_H

#include <cstddef>

namespace zrfe {

// out[i] = atanf(x[i])
void AtanRow(const float* x, float* out, size_t n);

// out[i] = atan2f(y[i], x[i])
void Atan2Row(const float* y, const float* x, float* out, size_t n);

// sinOut[i] = sinf(x[i]), cosOut[i] = cosf(x[i])
void SinCosRow(const float* x, float* sinOut, float* cosOut, size_t n);

// Whether the vector target in use computes the rows in its lanes (true), or calls
// the library per entry because its lanes round differently from this library.
bool TrigRowsAreOwn();

}  // namespace zrfe

#endif
