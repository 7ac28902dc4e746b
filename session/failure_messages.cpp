// The message text of each failure code.
#include "session_control.h"

const char* failureMessage(int code) {
    switch (code) {
        case kPortBusy:
            return "Port is busy";
        case kWrongResponse:
            return "Wrong responce";
        case kWrongImageSize:
            return "Wrong flash image size for detected phone";
        case kWrongSoftware:
            return "Wrong software version for this phone. \nTrying another flash image";
        case kTransmitError:
            return "Data transmit error encountered.\nCheck if the battery is full enough (at least 50% is "
                   "recomended)\n or if the cable is properly connected";
        default:
            return "Unknown error";
    }
}
