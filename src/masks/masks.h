// Mask builders: edge, ring and text masks; flat and deband masks; line and
// chroma masks. Each composes a graph and returns its last clip; none keeps state.
#pragma once

#include <cstdint>
#include <vector>

#include "module/context.h"

namespace orvo {

// Line and chroma masks.
py::object gammaed_lmask2(Context &ctx, py::object clip, py::object gamma = py::float_(1.08),
                          py::object c1 = py::int_(29952), py::object c2 = py::int_(12032));
py::object chromamask2(Context &ctx, py::object clip, py::object sigma = py::int_(0), py::object t_h = py::int_(6),
                       py::object t_l = py::int_(2), py::object plimitY = py::int_(265),
                       py::object plimitC = py::int_(245), py::object lowlimit1 = py::int_(312),
                       py::object lowlimit2 = py::int_(341), py::object lowlimit3 = py::int_(129),
                       py::object delta = py::int_(2), py::object radius = py::float_(1.8),
                       py::object blursigma = py::float_(1.5));

// Flat and deband masks.
py::object flatmask(Context &ctx, py::object flaten, py::object coreed, py::object d_gamma = py::float_(1.5),
                    py::object swh1 = py::int_(5), py::object swh2 = py::int_(2), py::object swh3 = py::int_(3),
                    py::object s0 = py::float_(1.8), py::object th0 = py::float_(1.6), py::object tl0 = py::int_(1),
                    py::object sf1 = py::float_(1.25), py::object thf1 = py::float_(1.0),
                    py::object tlf1 = py::float_(0.5), py::object sc1 = py::float_(1.8),
                    py::object thc1 = py::float_(1.6), py::object tlc1 = py::float_(0.8));
py::object orvomainmask(Context &ctx, py::object clip, py::object sigma = py::float_(1.5),
                        py::object high = py::int_(38960), py::object low = py::int_(4897));
py::object orvodbmask(Context &ctx, py::object clip, py::object clip16y = py::none(),
                      py::object d_gamma = py::float_(1.5), py::object pre = py::bool_(false),
                      py::object d1 = py::int_(80), py::object d2 = py::int_(96), py::object d3 = py::int_(180),
                      py::object d4 = py::int_(224), py::object s0 = py::float_(2.4),
                      py::object th0 = py::float_(1.5), py::object tl0 = py::float_(0.6),
                      py::object s1 = py::float_(2.5), py::object th1 = py::float_(1.0),
                      py::object tl1 = py::float_(0.5), py::object s2 = py::float_(2.5),
                      py::object th2 = py::float_(3.0), py::object tl2 = py::float_(1.5),
                      py::object swh1 = py::int_(5), py::object swh2 = py::int_(2), py::object swh3 = py::int_(3),
                      py::object inflate = py::bool_(true), py::object darkenh = py::bool_(true));

// Edge, ring and text masks.
py::object ringmask2(Context &ctx, py::object clip, py::object rx = py::none(), py::object amp = py::none(),
                     py::object thY1 = py::int_(0), py::object thY2 = py::int_(255), py::object mode = py::int_(1));
py::object eemask(Context &ctx, py::object clip);
py::object textmask(Context &ctx, py::object clip, py::object lim0 = py::int_(512), py::object lim1 = py::int_(1280));
py::object vcbaamask(Context &ctx, py::object clip);
py::object warpmask(Context &ctx, py::object clip);

// Look-up tables, 2^16 (or 2^10 for the chroma mask) entries.
// Brightness band of the deband mask; corners already on the 16-bit scale.
std::vector<int64_t> band_table(int64_t D1, int64_t D2, int64_t D3, int64_t D4);
// Highlight ramp of the main mask: 0 below low, linear up to 65535 at high.
std::vector<int64_t> highlight_table(double high, double low);
// Final stretch of the chroma mask: 0 up to 412, 2x up to 511, 1023 above.
std::vector<int64_t> chroma_stretch_table();

} // namespace orvo
