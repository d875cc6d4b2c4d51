// Registration of the fmtc namespace.
#include <VapourSynth4.h>

namespace fmtc {
void VS_CC bitdepth_create(const VSMap *in, VSMap *out, void *user, VSCore *core, const VSAPI *api);
void VS_CC resample_create(const VSMap *in, VSMap *out, void *user, VSCore *core, const VSAPI *api);
} // namespace fmtc

VS_EXTERNAL_API(void) VapourSynthPluginInit2(VSPlugin *plugin, const VSPLUGINAPI *vspapi) {
    vspapi->configPlugin("org.orvo.fmtc", "fmtc", "Format converter (orvo)", VS_MAKE_VERSION(30, 0),
                         VAPOURSYNTH_API_VERSION, 0, plugin);
    vspapi->registerFunction("bitdepth",
                             "clip:vnode;csp:int:opt;bits:int:opt;flt:int:opt;planes:int[]:opt;fulls:int:opt;"
                             "fulld:int:opt;dmode:int:opt;ampo:float:opt;ampn:float:opt;dyn:int:opt;"
                             "staticnoise:int:opt;cpuopt:int:opt;patsize:int:opt;tpdfo:int:opt;tpdfn:int:opt;"
                             "corplane:int:opt;",
                             "clip:vnode;", fmtc::bitdepth_create, nullptr, plugin);
    vspapi->registerFunction(
        "resample",
        "clip:vnode;w:int:opt;h:int:opt;sx:float[]:opt;sy:float[]:opt;sw:float[]:opt;sh:float[]:opt;"
        "scale:float:opt;scaleh:float:opt;scalev:float:opt;kernel:data[]:opt;kernelh:data[]:opt;"
        "kernelv:data[]:opt;impulse:float[]:opt;impulseh:float[]:opt;impulsev:float[]:opt;taps:int[]:opt;"
        "tapsh:int[]:opt;tapsv:int[]:opt;a1:float[]:opt;a2:float[]:opt;a3:float[]:opt;a1h:float[]:opt;"
        "a2h:float[]:opt;a3h:float[]:opt;a1v:float[]:opt;a2v:float[]:opt;a3v:float[]:opt;kovrspl:int[]:opt;"
        "fh:float[]:opt;fv:float[]:opt;cnorm:int[]:opt;total:float[]:opt;totalh:float[]:opt;totalv:float[]:opt;"
        "invks:int[]:opt;invksh:int[]:opt;invksv:int[]:opt;invkstaps:int[]:opt;invkstapsh:int[]:opt;"
        "invkstapsv:int[]:opt;csp:int:opt;css:data:opt;planes:float[]:opt;fulls:int:opt;fulld:int:opt;"
        "center:int[]:opt;cplace:data:opt;cplaces:data:opt;cplaced:data:opt;interlaced:int:opt;"
        "interlacedd:int:opt;tff:int:opt;tffd:int:opt;flt:int:opt;cpuopt:int:opt;",
        "clip:vnode;", fmtc::resample_create, nullptr, plugin);
}
