/* Compiled (not run) for other targets: the header's static assertions pin the 32-bit
 * layouts of the call record, items and lists. Valid C99 and C++. */
#include <pipetask/pipetask.h>

int main(void) {
    return (int)sizeof(TPluginCallRec) - (int)sizeof(TPluginCallRec);
}
