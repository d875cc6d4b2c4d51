#include "tools/check.h"

#include <algorithm>
#include <stdexcept>

#include "format/depth.h"

namespace orvo {

namespace {

// The label parser's stack actions; any failure abandons the labels.
struct LabelStack {
    std::vector<std::string> items;

    std::string &top() {
        if (items.empty())
            throw std::out_of_range("empty label stack");
        return items.back();
    }
    std::string pop() {
        if (items.empty())
            throw std::out_of_range("empty label stack");
        std::string s = std::move(items.back());
        items.pop_back();
        return s;
    }
    // ")": the texts since the matching "(" become the arguments of the call
    // named by the text below them, or the call's own arguments at the bottom.
    void close() {
        std::vector<std::string> group;
        for (;;) {
            std::string s = pop();
            if (s == "(")
                break;
            group.push_back(std::move(s));
        }
        std::reverse(group.begin(), group.end());
        if (items.empty()) {
            items = std::move(group);
            return;
        }
        std::string joined = "(";
        for (size_t i = 0; i < group.size(); i++)
            joined += (i ? ", " : "") + group[i];
        top() += joined + ")";
    }
    void feed(char c) {
        try {
            switch (c) {
            case '(':
                items.push_back("(");
                items.push_back("");
                break;
            case ',':
                items.push_back("");
                break;
            case ' ':
                break;
            case ')':
                close();
                break;
            default:
                top() += c;
            }
        } catch (const std::out_of_range &) {
            top() += c;
        }
    }
};

} // namespace

std::vector<std::string> check_labels(const std::string &line, const std::string &fallback) {
    try {
        py::object m = py::module_::import("re").attr("search")(R"(check[\s]*\(.+\)(\.set_output\(\))*)", line);
        if (m.is_none())
            return {fallback};
        std::string text = m.attr("group")().cast<std::string>();
        const std::string so = ".set_output()";
        for (size_t p; (p = text.find(so)) != std::string::npos;)
            text.erase(p, so.size());
        size_t open = text.find('('), close = text.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close < open)
            return {fallback};
        LabelStack stack;
        for (char c : text.substr(open, close - open + 1))
            stack.feed(c);
        return stack.items;
    } catch (const std::out_of_range &) {
        return {fallback};
    }
}

namespace {

// Smallest frame text.Text draws on.
constexpr int kLabelMinWidth = 40, kLabelMinHeight = 48;

bool known_family(const py::object &clip) {
    if (clip.attr("format").is_none())
        return false;
    int fam = vs::format_of(clip).color_family;
    return fam == vs::yuv_family() || fam == vs::rgb_family() || fam == vs::gray_family();
}

py::object to_yuv_like(const py::object &clipa, const py::object &c) {
    const char *msg = "Only YUV420/422/444 is supported";
    try {
        py::object m = py::module_::import("re").attr("search")("(420|422|444)", vs::format_of(clipa).name);
        if (m.is_none())
            throw py::type_error(msg);
        return vs::sibling("ToYUV", c, {{"css", m.attr("group")()}, {"full", py::bool_(false)},
                                  {"depth", py::int_(vs::format_of(c).bits)}});
    } catch (py::error_already_set &) {
        throw py::type_error(msg);
    } catch (const py::type_error &) {
        throw py::type_error(msg);
    }
}

} // namespace

py::object check(Context &ctx, py::object clipa, std::vector<py::object> clipbs, bool mode_1_flag,
                 const std::vector<std::string> &labels) {
    vs::Format target = clipa.attr("format").is_none() ? vs::Format() : vs::format_of(clipa);
    int width = clipa.attr("width").cast<int>(), height = clipa.attr("height").cast<int>();
    int64_t fps_num = clipa.attr("fps_num").cast<int64_t>(), fps_den = clipa.attr("fps_den").cast<int64_t>();

    for (size_t num = 0; num < clipbs.size(); num++) {
        py::object c = clipbs[num];
        if (!known_family(clipa) || !known_family(c))
            throw py::type_error("This script can only handle format with YUV/RGB/GRAY");
        vs::Format cf = vs::format_of(c);
        py::object clip = c;
        bool yuv_mismatch = target.color_family == vs::yuv_family() && cf.name.substr(0, 6) != target.name.substr(0, 6);
        if (cf.color_family != target.color_family || yuv_mismatch) {
            if (target.color_family == vs::yuv_family())
                clip = to_yuv_like(clipa, c);
            else if (target.color_family == vs::rgb_family())
                clip = vs::sibling("ToRGB", c, {{"full", py::bool_(false)}, {"depth", py::int_(cf.bits)}});
            else
                clip = vs::call("std", "ShufflePlanes", {c, py::int_(0), vs::attr("GRAY")});
        }
        if (vs::format_of(clip).bits != target.bits)
            clip = Depth(ctx, clip, py::int_(target.bits));
        if (c.attr("width").cast<int>() != width || c.attr("height").cast<int>() != height)
            clip = vs::call("resize", "Spline16", {clip, py::int_(width), py::int_(height)});
        if (fps_num && fps_den)
            clip = vs::call("std", "AssumeFPS", {clip, clipa});
        if (!mode_1_flag) {
            // A clip without a parsed label gets a placeholder instead of failing.
            std::string label = num + 1 < labels.size() ? labels[num + 1] : "clip " + std::to_string(num + 1);
            clip = vs::call("text", "Text", {clip, py::str(label)});
        }
        clipbs[num] = clip;
    }
    if (mode_1_flag) {
        py::list out;
        out.append(clipa);
        for (auto &c : clipbs)
            out.append(c);
        return out;
    }
    // The core's text overlay refuses smaller frames, but only when a frame is asked for.
    if (width > 0 && height > 0 && (width < kLabelMinWidth || height < kLabelMinHeight))
        vs::value_error("check", ": the labels need clips of at least " + std::to_string(kLabelMinWidth) + "x" +
                                     std::to_string(kLabelMinHeight) + ", got " + std::to_string(width) + "x" +
                                     std::to_string(height) + " (mode=1 returns the clips without labels)!");
    py::list all;
    all.append(vs::call("text", "Text", {clipa, py::str(labels.empty() ? std::string("clip 0") : labels[0])}));
    for (auto &c : clipbs)
        all.append(c);
    return vs::call("std", "Interleave", {all});
}

py::object diff(Context &ctx, py::object clipa, py::object clipb, py::object amp, py::object planes,
                py::object binarize, py::object maskedmerge) {
    py::list pair = check(ctx, clipa, {clipb}, true);
    clipa = pair[0], clipb = pair[1];
    vs::Format fa = vs::format_of(clipa);

    py::list plist;
    if (planes.is_none()) {
        for (int p = 0; p < fa.num_planes; p++)
            plist.append(p);
    } else if (vs::is_int(planes)) {
        plist.append(planes);
    } else {
        plist = py::list(planes);
    }
    if (py::len(plist) == 1) {
        if (fa.color_family == vs::rgb_family()) {
            clipa = vs::call("std", "SetFrameProp", {clipa}, {{"prop", py::str("_Matrix")}, {"intval", py::int_(2)}});
            clipb = vs::call("std", "SetFrameProp", {clipb}, {{"prop", py::str("_Matrix")}, {"intval", py::int_(2)}});
        }
        clipa = vs::call("std", "ShufflePlanes", {clipa, plist, vs::attr("GRAY")});
        clipb = vs::call("std", "ShufflePlanes", {clipb, plist, vs::attr("GRAY")});
        fa = vs::format_of(clipa);
    }
    std::string expr = "x y - abs " + py::str(amp).cast<std::string>() + " *";
    py::list clips;
    clips.append(clipa), clips.append(clipb);
    py::list exprs;
    exprs.append(expr);
    py::object res = vs::call("std", "Expr", {clips, exprs});
    py::object pb = py::len(plist) < 2 ? py::object(py::make_tuple(0)) : py::object(plist);
    py::object res_b = vs::call("std", "Binarize", {res}, {{"threshold", py::int_(1)}, {"planes", py::list(pb)}});
    if (!py::bool_(maskedmerge))
        return py::bool_(binarize) ? res_b : res;

    static const int C[3] = {250, 60, 115};
    py::list hl;
    for (int i = 0; i < 3; i++) {
        int src_plane;
        if (fa.color_family == vs::yuv_family())
            src_plane = i;
        else if (fa.color_family == vs::gray_family() || fa.color_family == vs::rgb_family())
            src_plane = 0;
        else
            throw py::type_error("diff: unsupported colour family");
        py::object tmpl = vs::call("std", "ShufflePlanes", {clipa, py::int_(src_plane), vs::attr("GRAY")});
        hl.append(vs::call("std", "BlankClip", {tmpl}, {{"color", py::int_(int64_t(C[i]) << (fa.bits - 8))}}));
    }
    py::list zeros;
    zeros.append(0), zeros.append(0), zeros.append(0);
    py::object blank = vs::call("std", "ShufflePlanes", {hl, zeros, vs::attr("YUV")});
    if (fa.color_family == vs::rgb_family())
        blank = vs::sibling("ToRGB", blank, {{"full", py::bool_(true)}});
    py::list matched = check(ctx, blank, {clipa}, true);
    blank = matched[0], clipa = matched[1];
    py::list all3;
    all3.append(0), all3.append(1), all3.append(2);
    return vs::call("std", "MaskedMerge", {clipa, blank, res_b, all3, py::bool_(true)});
}

} // namespace orvo
