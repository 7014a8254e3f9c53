// KestleDLL's class table. KestleAlert has a registrar script in the
// resources but no row: it is never registered and cannot be created.
#include "KestleDLL_scripts.h"
#include "frame/module.h"
#include "kestle/kestle_idl.h"
#include "kestle/classes.h"

namespace frame {

const ModuleInfo& module_info() {
    static const ClassRow rows[] = {
        {&CLSID_Kestle, kScriptKestle, &kestle::create_kestle, &IID_IKestle},
        {&CLSID_KestleImage, kScriptKestleImage, &kestle::create_kestle_image, &IID_IKestleImage},
        {&CLSID_KestleCapture, kScriptKestleCapture, &kestle::create_kestle_capture, &IID_IKestleCapture},
        {&CLSID_KestleChat, kScriptKestleChat, &kestle::create_kestle_chat, &IID_IKestleChat},
    };
    static const ModuleInfo info{&LIBID_KestleDLLLib, rows};
    return info;
}

}  // namespace frame
