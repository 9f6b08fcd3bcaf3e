// The firmware-image flows as the window calls them.
#include "FlashImage.h"
#include "Flows.h"
#include "HexCheck.h"

bool CheckHexLines(TFlowContext& ctx) {
    return CheckHexLines(ctx.Host);
}
bool BuildFlashImage(TFlowContext& ctx) {
    return BuildFlashImage(ctx.Host, ctx.State);
}
bool PrepareFlashImage(TFlowContext& ctx) {
    return PrepareFlashImage(ctx.Host, ctx.State);
}
void ButtonOpenHexClick(TFlowContext& ctx) {
    ButtonOpenHexClick(ctx.Host, ctx.State);
}
