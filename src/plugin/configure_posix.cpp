// The native build has no dialogs: message 5 reports Cancel.
#include "plugin/app.h"

int32_t RunConfigureDialog(HostWord) {
    return 0;
}
