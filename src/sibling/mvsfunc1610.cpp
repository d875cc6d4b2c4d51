// mvsfunc1610: RGB <-> YUV conversions used by orvolib.
//
// ToYUV(input, matrix=None, css=None, depth=None, full=None)
// ToRGB(input, matrix=None, depth=None, full=None)
//
// matrix "OPP" is the opponent colour space the BM3D plugin works in:
//   Y = (R + G + B) / 3,  U = (R - B) / 2,  V = (R - 2G + B) / 4   (float, chroma centred on 0)
// Other matrices go through the core resizer; without `matrix` the choice
// follows the frame size (709 above SD, 601 otherwise).
#include <pybind11/pybind11.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "vs/vs.h"

namespace py = pybind11;
using namespace orvo;

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

bool is_opp(const py::object &matrix) {
    return !matrix.is_none() && py::isinstance<py::str>(matrix) && lower(matrix.cast<std::string>()) == "opp";
}

// Resizer name of a matrix argument; `func` names the caller in errors.
std::string matrix_s(const py::object &matrix, const py::object &clip, const std::string &func) {
    if (matrix.is_none()) {
        int w = clip.attr("width").cast<int>(), h = clip.attr("height").cast<int>();
        return (w > 1024 || h > 576) ? "709" : "170m";
    }
    std::string m = lower(py::str(matrix).cast<std::string>());
    if (m == "601" || m == "170m" || m == "470bg" || m == "smpte170m")
        return "170m";
    if (m == "709" || m == "bt709")
        return "709";
    if (m == "2020" || m == "2020ncl")
        return "2020ncl";
    if (m == "240" || m == "240m")
        return "240m";
    if (m == "fcc")
        return "fcc";
    if (m == "ycgco")
        return "ycgco";
    throw py::value_error(func + ": unsupported matrix \"" + m + "\" (OPP, 601, 709, 2020, 240, FCC, YCgCo)");
}

int target_bits(const py::object &depth, const vs::Format &in, const std::string &func) {
    if (depth.is_none())
        return in.bits;
    if (!vs::is_int(depth))
        throw py::type_error(func + ": \"depth\" must be an int!");
    int d = depth.cast<int>();
    if (!(d >= 8 && d <= 16) && d != 32)
        throw py::value_error(func + ": \"depth\" must be 8-16 or 32, not " + std::to_string(d) + "!");
    return d;
}

int sample_of(int bits) { return bits == 32 ? 1 : 0; }

void parse_css(const py::object &css, int &ssw, int &ssh, const std::string &func) {
    std::string s = py::str(css).cast<std::string>();
    if (s == "444" || s == "11") { ssw = 0, ssh = 0; }
    else if (s == "422" || s == "21") { ssw = 1, ssh = 0; }
    else if (s == "420" || s == "22") { ssw = 1, ssh = 1; }
    else if (s == "411" || s == "41") { ssw = 2, ssh = 0; }
    else throw py::value_error(func + ": \"css\" must be \"444\", \"422\", \"420\" or \"411\", not \"" + s + "\"!");
}

py::object gray_plane(const py::object &clip, int plane) {
    return vs::call("std", "ShufflePlanes", {clip, py::int_(plane), vs::attr("GRAY")});
}

py::object join_planes(const py::object &a, const py::object &b, const py::object &c, int family) {
    py::list clips;
    clips.append(a), clips.append(b), clips.append(c);
    py::list planes;
    planes.append(0), planes.append(0), planes.append(0);
    return vs::call("std", "ShufflePlanes", {clips, planes, py::int_(family)});
}

// Three float planes combined by three expressions over (x, y, z).
py::object mix3(const py::object &clip, const char *e0, const char *e1, const char *e2, int family) {
    py::list src;
    for (int p = 0; p < 3; p++)
        src.append(gray_plane(clip, p));
    py::object a = vs::call("std", "Expr", {src, py::str(e0)});
    py::object b = vs::call("std", "Expr", {src, py::str(e1)});
    py::object c = vs::call("std", "Expr", {src, py::str(e2)});
    return join_planes(a, b, c, family);
}

py::object resize(const py::object &clip, int format, std::vector<vs::Kw> kw) {
    kw.insert(kw.begin(), {"format", py::int_(format)});
    return vs::call("resize", "Bicubic", {clip}, kw);
}

py::object range_s(bool full) { return py::str(full ? "full" : "limited"); }

// The planes of an OPP conversion are rebuilt by Expr, which keeps the input's
// tags; give the result the matrix of its own family so the resizer accepts it
// (RGB: 0; OPP has no code of its own: 2, unspecified) and mark it full range.
py::object tag_opp(const py::object &clip, int matrix) {
    return vs::call("std", "SetFrameProps", {clip}, {{"_Matrix", py::int_(matrix)}, {"_Range", py::int_(1)}});
}

py::object ToYUV(py::object input, py::object matrix, py::object css, py::object depth, py::object full) {
    const std::string func = "ToYUV";
    if (!vs::is_clip(input))
        throw py::type_error(func + ": \"input\" must be a clip!");
    vs::Format in = vs::format_of(input);
    int bits = target_bits(depth, in, func);
    bool out_full = full.is_none() ? false : full.cast<bool>();

    if (is_opp(matrix)) {
        if (in.color_family != vs::rgb_family())
            throw py::value_error(func + ": matrix \"OPP\" needs an RGB input clip!");
        if (!depth.is_none() && bits != 32)
            throw py::value_error(func + ": matrix \"OPP\" gives 32-bit float output only!");
        py::object rgb = input;
        if (in.sample_type != 1)
            rgb = resize(input, vs::query_format(vs::rgb_family(), 1, 32, 0, 0), {});
        return tag_opp(mix3(rgb, "x y + z + 3 /", "x z - 2 /", "x z + y 2 * - 4 /", vs::yuv_family()), 2);
    }

    int ssw = 0, ssh = 0;
    if (!css.is_none())
        parse_css(css, ssw, ssh, func);
    else if (in.color_family == vs::yuv_family())
        ssw = in.ssw, ssh = in.ssh;
    int out_fmt = vs::query_format(vs::yuv_family(), sample_of(bits), bits, ssw, ssh);

    if (in.color_family == vs::gray_family()) {
        // Luma from the grey clip, neutral chroma.
        py::object luma = resize(input, vs::query_format(vs::gray_family(), sample_of(bits), bits, 0, 0),
                                 {{"range_s", range_s(out_full)}});
        int w = input.attr("width").cast<int>() >> ssw, h = input.attr("height").cast<int>() >> ssh;
        py::object neutral = bits == 32 ? py::object(py::float_(0.0)) : py::object(py::int_(1 << (bits - 1)));
        py::object chroma = vs::call("std", "BlankClip", {luma},
                                     {{"width", py::int_(w)}, {"height", py::int_(h)}, {"color", neutral}});
        py::list clips;
        clips.append(luma), clips.append(chroma), clips.append(chroma);
        py::list planes;
        planes.append(0), planes.append(0), planes.append(0);
        return vs::call("std", "ShufflePlanes", {clips, planes, vs::attr("YUV")});
    }
    std::vector<vs::Kw> kw = {{"range_s", range_s(out_full)}};
    if (in.color_family == vs::rgb_family()) {
        kw.push_back({"matrix_s", py::str(matrix_s(matrix, input, func))});
        kw.push_back({"range_in_s", py::str("full")});
    } else {
        kw.push_back({"range_in_s", py::str("limited")});
    }
    return resize(input, out_fmt, kw);
}

py::object ToRGB(py::object input, py::object matrix, py::object depth, py::object full) {
    const std::string func = "ToRGB";
    if (!vs::is_clip(input))
        throw py::type_error(func + ": \"input\" must be a clip!");
    vs::Format in = vs::format_of(input);
    int bits = target_bits(depth, in, func);
    bool out_full = full.is_none() ? true : full.cast<bool>();
    int out_fmt = vs::query_format(vs::rgb_family(), sample_of(bits), bits, 0, 0);

    if (is_opp(matrix)) {
        if (in.color_family != vs::yuv_family())
            throw py::value_error(func + ": matrix \"OPP\" needs a YUV input clip!");
        py::object opp = input;
        if (in.sample_type != 1 || in.bits != 32 || in.ssw || in.ssh)
            opp = resize(input, vs::query_format(vs::yuv_family(), 1, 32, 0, 0), {{"range_in_s", py::str("full")}});
        py::object rgb =
            tag_opp(mix3(opp, "x y + z 2 * 3 / +", "x z 4 * 3 / -", "x y - z 2 * 3 / +", vs::rgb_family()), 0);
        if (bits == 32 && out_full)
            return rgb;
        return resize(rgb, out_fmt, {{"range_in_s", py::str("full")}, {"range_s", range_s(out_full)}});
    }

    if (in.color_family == vs::gray_family()) {
        py::object g = resize(input, vs::query_format(vs::gray_family(), sample_of(bits), bits, 0, 0),
                              {{"range_in_s", py::str("limited")}, {"range_s", range_s(out_full)}});
        return vs::call("std", "SetFrameProps", {join_planes(g, g, g, vs::rgb_family())}, {{"_Matrix", py::int_(0)}});
    }
    std::vector<vs::Kw> kw = {{"range_s", range_s(out_full)}};
    if (in.color_family == vs::yuv_family()) {
        kw.push_back({"matrix_in_s", py::str(matrix_s(matrix, input, func))});
        kw.push_back({"range_in_s", py::str("limited")});
    } else {
        kw.push_back({"range_in_s", py::str("full")});
    }
    return resize(input, out_fmt, kw);
}

} // namespace

PYBIND11_MODULE(mvsfunc1610, m) {
    m.doc() = "RGB/YUV conversions: ToYUV and ToRGB (matrix \"OPP\" is BM3D's opponent colour space).";
    m.def("ToYUV", &ToYUV, py::arg("input"), py::arg("matrix") = py::none(), py::arg("css") = py::none(),
          py::arg("depth") = py::none(), py::arg("full") = py::none(),
          "Convert to YUV with subsampling `css`, `depth` bits and `full` range (limited by default).");
    m.def("ToRGB", &ToRGB, py::arg("input"), py::arg("matrix") = py::none(), py::arg("depth") = py::none(),
          py::arg("full") = py::none(), "Convert to RGB with `depth` bits and `full` range (full by default).");
}
