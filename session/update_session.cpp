#include "update_session.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "phone_model.h"
#include "session_constants.h"

using namespace session;

namespace {

// The worker's idle reset is one panel call: a click is handled either before it (the button still reads
// "Abort" and aborts) or after it (it reads "Update" and starts), never half-way.
void idleResetTogether(SessionContext& ctx) {
    ctx.panel.together([&state = ctx.state](Panel& panel) { idleReset(panel, state); });
}

class Conversation {
  public:
    explicit Conversation(SessionContext& ctx) : ctx_(ctx) {}
    int run();

  private:
    bool aborted() const { return ctx_.aborted.load(); }
    int fail(int code) { return failSession(ctx_, code); }
    // Command writes are not examined: a lost command shows up as a missing reply.
    bool send(const std::uint8_t* bytes, std::size_t count) { return ctx_.link.write(bytes, count); }
    bool send(std::string_view bytes) {
        return send(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    bool expect(std::string_view want);
    void status(const char* text) { ctx_.panel.setStatus(text); }
    void field(int control, const std::string& text) { ctx_.panel.setFieldText(control, text); }
    void upload(const Payload& payload, std::size_t chunk);

    int powerOnWait(PhoneModel& model);
    int enterBootMode();
    int sendBootApplication();
    int changeSpeed();
    int sendServiceApplication();
    int readImei(PhoneModel model, std::string& digits);
    int holdBeforeErase();
    int eraseAndBlankCheck();
    int streamImage();
    int formatAndCheck();

    SessionContext& ctx_;
};

bool Conversation::expect(std::string_view want) {
    if (!ctx_.link.readReply()) return false;
    const ReplyBuffer& reply = ctx_.link.reply();
    return reply.count == want.size() &&
           std::equal(want.begin(), want.end(), reply.bytes.begin(),
                      [](char w, std::uint8_t got) { return static_cast<std::uint8_t>(w) == got; });
}

std::string imeiText(const std::uint8_t* digits) {
    std::string text(kImeiTemplate);
    std::copy(digits, digits + 6, text.begin() + 1);
    std::copy(digits + 6, digits + 8, text.begin() + 8);
    std::copy(digits + 8, digits + 14, text.begin() + 11);
    text[18] = static_cast<char>(digits[14]);
    return text;
}

void Conversation::upload(const Payload& payload, std::size_t chunk) {
    // The range is the count of whole chunks; a shorter last chunk takes one more step and starts the bar
    // over.
    ctx_.panel.progressStart(static_cast<std::uint32_t>(payload.size / chunk));
    for (std::size_t at = 0; at < payload.size && !aborted(); at += chunk) {
        send(payload.data + at, std::min(chunk, payload.size - at));
        ctx_.panel.progressStep();
    }
    ctx_.panel.progressReset();
}

int Conversation::powerOnWait(PhoneModel& model) {
    // Power-on noise, silence and anything but a lone 'T' or 'U' just keep the wait going.
    for (;;) {
        if (aborted()) return kSessionAborted;
        ctx_.link.clearErrors();
        if (!ctx_.link.readReply()) {
            // An adapter pulled out during the wait: waiting on the dead device would keep its name taken, so
            // the adapter, plugged in again, would come back under another name.
            if (ctx_.link.lineLost()) return fail(kPortBusy);
            continue;
        }
        const ReplyBuffer& reply = ctx_.link.reply();
        if (auto detected = modelFromPowerOn(reply.bytes.data(), reply.count)) {
            model = *detected;
            return 0;
        }
    }
}

int Conversation::enterBootMode() {
    status(kStatusBootMode);
    send(kLoadRequest);
    if (!expect(kLoadReady)) return fail(kWrongResponse);
    send(kBootParameters);
    if (!expect(kBootParameterReply)) return fail(kWrongResponse);
    const std::uint8_t zeros[kZeroBlockSize] = {};
    send(zeros, sizeof zeros);
    if (!ctx_.link.readReply() || ctx_.link.reply().count != kBootReplySize) return fail(kWrongResponse);
    send(zeros, sizeof zeros);

    status(kStatusHandshake);
    if (!expect(kHandshake)) return fail(kWrongResponse);
    return 0;
}

int Conversation::sendBootApplication() {
    status(kStatusBootApplication);
    upload(ctx_.payloads.boot, kBootChunk);
    if (!expect(kPrompt)) return fail(kWrongResponse);
    field(IDC_LOADER, kBootLoaderName);
    return 0;
}

int Conversation::changeSpeed() {
    status(kStatusBaudRate);
    send(kSpeedChange);
    if (aborted()) return kSessionAborted;
    ctx_.link.reopen(kFastSpeed);
    send(kWakeUp);
    if (!expect(kPrompt)) return fail(kWrongResponse);
    field(IDC_LINKSTATE, kLinkFast);
    return 0;
}

int Conversation::sendServiceApplication() {
    status(kStatusServiceApplication);
    send(kLoadRequest);
    if (!expect(kLoadReady)) return fail(kWrongResponse);
    upload(ctx_.payloads.service, kServiceChunk);
    if (!expect(kPrompt)) return fail(kWrongResponse);
    field(IDC_LOADER, kServiceLoaderName);
    send(kQuit);
    if (!expect(kPrompt)) return fail(kWrongResponse);
    return 0;
}

int Conversation::readImei(PhoneModel model, std::string& digits) {
    status(kStatusImei);
    send(phoneModelInfo(model).imeiRequest);
    if (!ctx_.link.readReply()) return fail(kWrongResponse);
    const ReplyBuffer& reply = ctx_.link.reply();
    if (reply.count != kImeiReplySize ||
        !std::equal(kPrompt.begin(), kPrompt.end(), reply.bytes.begin() + kImeiDigits,
                    [](char w, std::uint8_t got) { return static_cast<std::uint8_t>(w) == got; }))
        return fail(kWrongResponse);
    field(IDC_IMEI, imeiText(reply.bytes.data()));
    digits.assign(reply.bytes.begin(), reply.bytes.begin() + kImeiDigits);
    return 0;
}

// Ends a session that beforeErase refused: nothing more is sent, and it is no failure, so no message.
int Conversation::holdBeforeErase() {
    ctx_.link.close();
    ctx_.state.clockRunning = false;
    idleResetTogether(ctx_);
    return kSessionHeld;
}

int Conversation::eraseAndBlankCheck() {
    status(kStatusErase);
    send(kErase);
    // Two separate replies: the acknowledge now, the prompt when the erase is done.
    if (!expect(kAcknowledge)) return fail(kWrongResponse);
    if (!expect(kPrompt)) return fail(kWrongResponse);

    status(kStatusBlankCheck);
    send(kCheck);
    if (!expect(kCheckPassed)) return fail(kWrongResponse);
    return 0;
}

int Conversation::streamImage() {
    status(kStatusUpdating);
    const FlashImage& image = ctx_.image;
    const std::uint8_t* bytes = image.bytes();
    ctx_.panel.progressStart(static_cast<std::uint32_t>(image.frameCount));
    send(bytes, kFrameHeadBytes);
    if (!expect(kAcknowledge)) return fail(kWrongResponse);
    // No acknowledgement per frame: the line's back-pressure on each whole-frame write is the only pacing.
    std::size_t at = Frame::length(bytes);
    for (std::int32_t k = 1; k <= image.frameCount; ++k) {
        const std::size_t length = Frame::length(bytes + at);
        if (!send(bytes + at, length)) return fail(kTransmitError);
        field(IDC_FRAMESSENT, std::to_string(k));
        ctx_.panel.progressStep();
        at += length;
    }
    send(bytes + at, kFrameHeadBytes);
    if (!expect(kPrompt)) return fail(kWrongResponse);
    ctx_.panel.progressReset();
    return 0;
}

int Conversation::formatAndCheck() {
    status(kStatusFormat);
    send(kFormatEeprom);
    // Any reply will do; only silence fails.
    if (!ctx_.link.readReply()) return fail(kWrongResponse);

    status(kStatusCrc);
    send(kCheck);
    if (!expect(kCheckPassed)) return fail(kWrongSoftware);
    return 0;
}

int Conversation::run() {
    field(IDC_PHONE, "");
    field(IDC_IMEI, "");
    field(IDC_TIME, "");
    // Walked once before the port opens, so a malformed image can never be read past its end mid-stream.
    if (!imageStreamable(ctx_.image)) return fail(kUnusableImage);

    if (aborted()) return kSessionAborted;
    // No digit means the call was dropped by an abort: no port is chosen, so none is opened.
    const char portDigit = ctx_.panel.selectedPortDigit();
    if (portDigit == 0) return fail(kPortBusy);
    if (!ctx_.link.open(portDigit, kSlowSpeed)) return fail(kPortBusy);
    field(IDC_LINKSTATE, kLinkSlow);
    status(kStatusPowerOn);

    PhoneModel model{};
    if (int code = powerOnWait(model)) return code;

    ctx_.phoneDetected = true;
    ctx_.state.abortHintArmed = true;
    ctx_.state.clockRunning = true;
    const PhoneModelInfo& info = phoneModelInfo(model);
    field(IDC_PHONE, info.detectedText);
    if (info.imageSizeLimit != 0 && ctx_.image.size > info.imageSizeLimit) return fail(kWrongImageSize);

    using Step = int (Conversation::*)();
    for (Step step : {&Conversation::enterBootMode, &Conversation::sendBootApplication,
                      &Conversation::changeSpeed, &Conversation::sendServiceApplication}) {
        if (aborted()) return kSessionAborted;
        if (int code = (this->*step)()) return code;
    }
    if (aborted()) return kSessionAborted;
    std::string imei;
    if (int code = readImei(model, imei)) return code;
    if (ctx_.beforeErase && !ctx_.beforeErase(imei)) return aborted() ? kSessionAborted : holdBeforeErase();
    for (Step step :
         {&Conversation::eraseAndBlankCheck, &Conversation::streamImage, &Conversation::formatAndCheck}) {
        if (aborted()) return kSessionAborted;
        if (int code = (this->*step)()) return code;
    }
    if (aborted()) return kSessionAborted;

    send(kQuit);
    // An Abort that cut the closing "Q" owns the ending: no success message for a phone that never got it.
    if (aborted()) return kSessionAborted;
    ctx_.link.close();
    ctx_.state.abortHintArmed = false;
    ctx_.state.clockRunning = false;
    idleResetTogether(ctx_);
    ctx_.panel.showMessage(kSuccessText, kSuccessCaption, MessageIcon::None);
    return 0;
}

}  // namespace

bool imageStreamable(const FlashImage& image) {
    if (image.frameCount < 0 || image.size > image.data.size()) return false;
    const std::uint8_t* bytes = image.bytes();
    std::size_t at = 0;
    // The header frame and every data frame must lie whole within the size; the termination frame needs
    // the two bytes that are sent of it.
    for (std::int64_t frame = 0; frame <= image.frameCount; ++frame) {
        if (at + Frame::kOverhead > image.size) return false;
        at += Frame::length(bytes + at);
        if (at > image.size) return false;
    }
    return at + kFrameHeadBytes <= image.size;
}

int runUpdateSession(SessionContext& ctx) {
    return Conversation(ctx).run();
}

int failSession(SessionContext& ctx, int code) {
    if (ctx.aborted) return kSessionAborted;
    ctx.link.close();
    ctx.state.clockRunning = false;
    ctx.state.failureHintWanted = true;
    // The phone was never touched: removing its battery would be needless advice.
    if (code == kPortBusy || code == kUnusableImage) ctx.state.failureHintWanted = false;
    ctx.panel.showMessage(failureMessage(code), kErrorCaption, MessageIcon::Error);
    if (ctx.state.failureHintWanted) ctx.panel.showMessage(kBatteryHint, kHintCaption, MessageIcon::Error);
    idleResetTogether(ctx);
    return code;
}

void idleReset(Panel& panel, SessionState& state) {
    state.sessionRunning = false;
    panel.progressReset();
    panel.setFieldText(IDC_UPDATE, kUpdateCaption);
    for (int control : {IDC_LOADSW, IDC_COM1, IDC_COM2, IDC_COM3, IDC_COM4})
        panel.setControlEnabled(control, true);
    panel.setFieldText(IDC_FRAMESSENT, "");
    panel.setFieldText(IDC_LINKSTATE, kLinkClosed);
    panel.setFieldText(IDC_LOADER, "");
    panel.setStatus(kStatusReady);
    state.abortHintArmed = false;
    panel.redrawPanel();
}
