// Transform routines of the analysis classes: window generators, window
// application, the discrete cosine transform by matrix, and in-place complex
// and real FFTs.
//
// Plain functions on float arrays with C linkage. They never allocate and
// keep no state: every array is the caller's, and a cosine matrix is N row
// pointers to rows of N floats, all the caller's. A count of 0 writes
// nothing.
//
// Windows are periodic (the angle steps by 2 pi / N, not 2 pi / (N - 1)), so
// hanning and blackman start at 0 and the last value is not the mirror of
// the first; hann windows overlapped at N / 2 sum to exactly 1.
//
// Cosine transform. the_dct_now is the unnormalised DCT-II,
//   X[k] = sum over n of x[n] cos(pi k (n + 1/2) / N),
// and the_inverse_dct_now its inverse, the DCT-III scaled by 2 / N with
// coefficient 0 at half weight,
//   x[n] = (2 / N) (X[0] / 2 + sum over k >= 1 of X[k] cos(pi k (n + 1/2) / N)),
// so that the inverse of the forward transform gives the input back. Sums
// run in double.
//
// FFT layout. cfft transforms NC interleaved complex values (x[2k] real,
// x[2k+1] imaginary; NC a power of two) in place; the forward direction uses
// the kernel e^(+i ...) and scales by 1 / (2 NC), the inverse scales by 2.
// rfft transforms 2N real samples s (N a power of two) into N complex bins:
//   x[0] = (1 / M) sum s[n]            (DC, real)
//   x[1] = (1 / M) sum s[n] (-1)^n     (Nyquist, real, in bin 0's imaginary slot)
//   x[2k] + i x[2k+1] = (1 / M) sum s[n] e^(+2 pi i k n / M),  1 <= k < N,
// with M = 2N; the inverse takes exactly this layout and gives s back. The
// twiddle factors run in double by a trigonometric recurrence (two sines per
// pass); the data stay float.
#ifndef CHIP_LIB_UTIL_XFORMS_H
#define CHIP_LIB_UTIL_XFORMS_H

extern "C" {

// Periodic Hann: 0.5 (1 - cos t), t = 2 pi i / N.
void hanning(float window[], unsigned long N);
// Periodic Hamming: 0.54 - 0.46 cos t.
void hamming(float window[], unsigned long N);
// Periodic three-term Blackman: 0.42 - 0.5 cos t + 0.08 cos 2t.
void blackman(float window[], unsigned long N);
// Triangle: i / h rising, (N - i) / h falling, h = N / 2 (in float).
void bartlett(float window[], unsigned long N);
// data[i] *= window[i] for i < N.
void apply_window(float data[], const float window[], unsigned long N);

// D[k][n] = cos(pi k (n + 0.5) / N).
void the_dct_matrix(float* D[], unsigned long N);
// X_out[k] for k < Nout (Nout <= N; more is cut to N).
void the_dct_now(const float x_in[], float* const D[], unsigned long N, float X_out[],
                 unsigned long Nout);
// E[n][k] = cos((n + 0.5) k pi / N).
void the_inverse_dct_matrix(float* E[], unsigned long N);
// x_out[n] for n < Nout (Nout <= N; more is cut to N).
void the_inverse_dct_now(const float X_in[], float* const E[], unsigned long N, float x_out[],
                         unsigned long Nout);

// In place; forward nonzero for the forward transform. NC (resp. N) below 1
// transforms nothing.
void cfft(float x[], long NC, unsigned forward);
void rfft(float x[], long N, unsigned forward);

}

#endif
