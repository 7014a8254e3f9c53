// KestleDLL's class table. KestleAlert has a registrar script (106) in the
// resources but no row: it is never registered and cannot be created.
#include "frame/module.h"
#include "kestle/kestle_idl.h"
#include "kestle/classes.h"

namespace frame {

const ModuleInfo& module_info() {
    static const ClassRow rows[] = {
        {&CLSID_Kestle, 102, &kestle::create_kestle, &IID_IKestle},
        {&CLSID_KestleImage, 104, &kestle::create_kestle_image, &IID_IKestleImage},
        {&CLSID_KestleCapture, 105, &kestle::create_kestle_capture, &IID_IKestleCapture},
        {&CLSID_KestleChat, 107, &kestle::create_kestle_chat, &IID_IKestleChat},
    };
    static const ModuleInfo info{&LIBID_KestleDLLLib, rows};
    return info;
}

}  // namespace frame
