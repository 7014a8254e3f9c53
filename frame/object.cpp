#include "frame/object.h"

namespace frame {

void normalise_result(VARIANT* result) noexcept {
    if (!result) return;
    if (V_VT(result) == VT_INT) {
        const INT v = V_INT(result);
        V_VT(result) = VT_I4;
        V_I4(result) = v;
    } else if (V_VT(result) == VT_UINT) {
        const UINT v = V_UINT(result);
        V_VT(result) = VT_UI4;
        V_UI4(result) = v;
    }
}

}  // namespace frame
