// The two phone models: power-on byte, texts, IMEI request and image limit.
#include "phone_model.h"

#include "session_constants.h"

namespace {
constexpr PhoneModelInfo kT1x{'T', " T1x detected", "I1", 0};
constexpr PhoneModelInfo kA1018s{'U', " A1018s detected", "I0", session::kA1018sImageLimit};
}  // namespace

const PhoneModelInfo& phoneModelInfo(PhoneModel model) {
    return model == PhoneModel::T1x ? kT1x : kA1018s;
}

std::optional<PhoneModel> modelFromPowerOn(const std::uint8_t* reply, std::size_t count) {
    if (count != 1) return std::nullopt;
    if (reply[0] == kT1x.powerOnByte) return PhoneModel::T1x;
    if (reply[0] == kA1018s.powerOnByte) return PhoneModel::A1018s;
    return std::nullopt;
}
