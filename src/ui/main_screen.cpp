#include "ui/main_screen.h"

#include <imgui.h>

#include <optional>

#include "logging/logging.h"
#include "package/layout.h"
#include "ui/widgets.h"
#include "upgrade/device_info.h"
#include "upgrade/to_boot_procedure.h"
#include "upgrade/upgrade_tasks.h"

namespace iap {
namespace {

const ImVec4 kWhite(1, 1, 1, 1);

void drawBox(const Skin& skin, int32_t id, const char* logLine, const char* text) {
    DrawImage(skin, id, 1.0f);
    basic_logger->info(logLine);
    LayoutRect r = layoutOf(skin, id);
    DrawCenteredText(text, ImVec2(r.x, r.y), ImVec2(r.x + r.w, r.y + r.h));
}

// The tips text, centred in its rectangle. Up to two lines fit between the
// progress bar and the "ToBoot" button at the full font size; a longer text
// (an error with its code and message) is drawn smaller, so that it overlaps
// neither.
void drawTips(const Skin& skin, const char* text) {
    constexpr float kRoom = 72.0f;
    LayoutRect tips = layoutOf(skin, WIDGET_TIPS);
    float lines = static_cast<float>(centredTextLines(text, tips.w));
    float height = lines * ImGui::GetFontSize();
    bool shrink = height > kRoom;
    if (shrink) ImGui::SetWindowFontScale(kRoom / height);
    ImGui::PushStyleColor(ImGuiCol_Text, kWhite);
    DrawCenteredText(text, ImVec2(tips.x, tips.y), ImVec2(tips.x + tips.w, tips.y + tips.h));
    ImGui::PopStyleColor();
    if (shrink) ImGui::SetWindowFontScale(1.0f);
}

void drawSwitchApp(Screen& screen, const Skin& skin, bool disabled) {
    ToolContext& ctx = screen.tool;
    LayoutRect r = layoutOf(skin, RSRC_IMG_SWITCH_APP);
    basic_logger->info("start RSRC_IMG_SWITCH_APP");
    basic_logger->info("pos: ({:.2f}, {:.2f}), size: ({:.2f}, {:.2f})", r.x, r.y, r.w, r.h);
    ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0, 1, 0, 1));
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, ImVec4(0, 0.8f, 0, 1));
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, ImVec4(0, 0.6f, 0, 1));
    ImGui::SetCursorPos(ImVec2(r.x, r.y));
    basic_logger->info("start ToBoot");
    // Never while a worker task holds the device record and the engine.
    if (disabled) ImGui::BeginDisabled();
    bool pressed = ImGui::Button("ToBoot", ImVec2(r.w, r.h));
    if (disabled) ImGui::EndDisabled();
    if (pressed) {
        // The record is written by a worker, never by the frame.
        if (std::optional<AttemptResult> result = ToBootProcess(ctx)) {
            screen.pool.enqueue([&ctx, r = std::move(*result)] { recordAttempt(ctx, "to-boot", r); });
        }
    }
    ImGui::PopStyleColor(3);
    ImGui::SetCursorPos(ImVec2(0, 0));
    basic_logger->info("ToBoot Ok");
}

void drawMainView(Screen& screen, const DisplayTexts& texts) {
    ToolContext& ctx = screen.tool;
    ThreadPool& pool = screen.pool;
    const Skin& skin = screen.skin;
    DrawImage(skin, RSRC_IMG_BG, 1.0f);
    basic_logger->info("RSRC_IMG_BG OK");
    DrawImage(skin, RSRC_IMG_LOGO, 1.0f);
    basic_logger->info("RSRC_IMG_LOGO OK");
    DrawImage(skin, RSRC_IMG_VID, 1.0f);
    basic_logger->info("RSRC_IMG_VID OK");
    DrawImage(skin, RSRC_IMG_PID, 1.0f);
    basic_logger->info("RSRC_IMG_PID OK");
    DrawImage(skin, RSRC_IMG_VER, 1.0f);
    basic_logger->info("RSRC_IMG_VER OK");

    ImGui::PushStyleColor(ImGuiCol_Text, kWhite);
    ImGui::SetWindowFontScale(0.8f);
    drawBox(skin, RSRC_IMG_TEXT_INPUT_VID, "RSRC_IMG_TEXT_INPUT_VID OK", texts.vidText);
    drawBox(skin, RSRC_IMG_TEXT_INPUT_PID, "RSRC_IMG_TEXT_INPUT_PID OK", texts.pidText);
    drawBox(skin, RSRC_IMG_TEXT_INPUT_VER, "RSRC_IMG_TEXT_INPUT_VER OK", texts.verText);
    ImGui::SetWindowFontScale(1.0f);
    ImGui::PopStyleColor();

    DrawProgress(skin, screen.reporter.progress_limit.load(), screen.reporter.progress_pos.load());
    basic_logger->info("DrawProgress OK");

    drawTips(skin, texts.tipsText);
    basic_logger->info("DrawTips OK");

    int32_t busy = ctx.busy.load();
    drawSwitchApp(screen, skin, busy != BUSY_IDLE);

    // The state may have changed while the switch ran inside this frame.
    busy = ctx.busy.load();
    bool devInfoDisabled = busy != BUSY_IDLE;
    bool startDisabled = busy != BUSY_IDLE;
    bool autoDisabled = busy != BUSY_IDLE && busy != BUSY_AUTO_WAITING;

    if (devInfoDisabled) ImGui::BeginDisabled();
    if (DrawImageButton(skin, "DEVINFO", RSRC_IMG_DEVINFO, RSRC_IMG_DEVINFO + 1, RSRC_IMG_DEVINFO + 2)) {
        pool.enqueue([&ctx] { DeviceInfoThread(ctx); });
    }
    basic_logger->info("RSRC_IMG_DEVINFO Ok");
    if (devInfoDisabled) ImGui::EndDisabled();

    if (startDisabled) ImGui::BeginDisabled();
    if (DrawImageButton(skin, "START", RSRC_IMG_START, RSRC_IMG_START + 1, RSRC_IMG_START + 2)) {
        pool.enqueue([&ctx] { IAPThread(ctx); });
    }
    basic_logger->info("RSRC_IMG_START Ok");
    if (startDisabled) ImGui::EndDisabled();

    if (autoDisabled) ImGui::BeginDisabled();
    bool before = ctx.autoStart.load();
    if (DrawImageButton(skin, "AUTOSTART", RSRC_IMG_AUTO_START, RSRC_IMG_AUTO_START + 1,
                        RSRC_IMG_AUTO_START + 2)) {
        ctx.autoStart.store(!ctx.autoStart.load());
    }
    basic_logger->info("RSRC_IMG_AUTO_START Ok");
    DrawAutoStartCheckbox(skin, ctx.autoStart);
    if (ctx.autoStart.load() != before) pool.enqueue([&ctx] { AutoIAPThread(ctx); });
    basic_logger->info("RSRC_IMG_BOX Ok");
    if (autoDisabled) ImGui::EndDisabled();
}

void drawErrorView(Screen& screen, const DisplayTexts& texts) {
    DrawCenteredText(texts.tipsText, ImVec2(0, 0), ImVec2(600, 400));
    if (texts.msgPending && !ImGui::IsPopupOpen("MSG")) ImGui::OpenPopup("MSG");
    ImGui::SetNextWindowPos(ImGui::GetMainViewport()->GetCenter(), ImGuiCond_Appearing, ImVec2(0.5f, 0.5f));
    if (ImGui::BeginPopupModal("MSG", nullptr, ImGuiWindowFlags_AlwaysAutoResize)) {
        ImGui::TextUnformatted(texts.msgText);
        ImGui::Separator();
        if (ImGui::Button("OK", ImVec2(120, 0))) {
            ImGui::CloseCurrentPopup();
            screen.display.clearMsgPending(texts.msgSerial);
        }
        ImGui::SetItemDefaultFocus();  // marks the item just added: "OK"
        ImGui::EndPopup();
    }
}

}  // namespace

void main_gui(Screen& screen) {
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(viewport->WorkPos);
    ImGui::SetNextWindowSize(viewport->WorkSize);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowRounding, 0.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowBorderSize, 0.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0, 0));
    bool open = true;
    ImGui::Begin("-", &open,
                 ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                     ImGuiWindowFlags_NoCollapse);
    ImGui::PopStyleVar(3);

    DisplayTexts texts = screen.display.snapshot();
    if (screen.packageValid)
        drawMainView(screen, texts);
    else
        drawErrorView(screen, texts);

    ImGui::End();
}

}  // namespace iap
