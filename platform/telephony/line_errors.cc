// The texts of TAPI's line error codes, standing in for the system's message
// table: ReportTapiError writes them after "TAPI errormsg=".
#include <algorithm>
#include <array>

#include "platform/telephony/telephony_provider.h"

namespace vexo {
namespace {

struct LineErrorRow {
  std::uint32_t code;
  std::string_view text;
};

constexpr std::array<LineErrorRow, 90> kLineErrors{{
    {0x80000001, "The line is already allocated."},
    {0x80000002, "The line device identifier is not valid."},
    {0x80000003, "The bearer mode is not available."},
    {0x80000005, "No call appearance is available."},
    {0x80000006, "Too many call completions are outstanding."},
    {0x80000007, "The conference is full."},
    {0x80000008, "The dial string asks for billing information the line cannot wait for."},
    {0x80000009, "The dial string waits for a dial tone the line cannot detect."},
    {0x8000000A, "The dial string asks for a prompt the line cannot give."},
    {0x8000000B, "The dial string waits for quiet the line cannot detect."},
    {0x8000000C, "The interface version is not supported."},
    {0x8000000D, "The extension version is not supported."},
    {0x8000000E, "The telephony configuration is damaged."},
    {0x8000000F, "The line device is in use."},
    {0x80000010, "The address is not valid."},
    {0x80000011, "The address identifier is not valid."},
    {0x80000012, "The address mode is not valid."},
    {0x80000013, "The address state is not valid."},
    {0x80000014, "The application handle is not valid."},
    {0x80000015, "The application name is not valid."},
    {0x80000016, "The bearer mode is not valid."},
    {0x80000017, "The call completion mode is not valid."},
    {0x80000018, "The call handle is not valid."},
    {0x80000019, "The call parameters are not valid."},
    {0x8000001A, "The call privilege is not valid."},
    {0x8000001B, "The call selection is not valid."},
    {0x8000001C, "The call is not in a state that allows this operation."},
    {0x8000001D, "The call state list is not valid."},
    {0x8000001E, "The calling card is not valid."},
    {0x8000001F, "The completion identifier is not valid."},
    {0x80000020, "The conference call handle is not valid."},
    {0x80000021, "The consultation call handle is not valid."},
    {0x80000022, "The country code is not valid."},
    {0x80000023, "The device class is not valid."},
    {0x80000024, "The device handle is not valid."},
    {0x80000025, "The dialling parameters are not valid."},
    {0x80000026, "The digit list is not valid."},
    {0x80000027, "The digit mode is not valid."},
    {0x80000028, "The digits are not valid."},
    {0x80000029, "The extension version is not valid."},
    {0x8000002A, "The group identifier is not valid."},
    {0x8000002B, "The line handle is not valid."},
    {0x8000002C, "The line state is not valid."},
    {0x8000002D, "The location is not valid."},
    {0x8000002E, "The media list is not valid."},
    {0x8000002F, "The media mode is not valid."},
    {0x80000030, "The message identifier is not valid."},
    {0x80000032, "A parameter is not valid."},
    {0x80000033, "The park identifier is not valid."},
    {0x80000034, "The park mode is not valid."},
    {0x80000035, "A pointer is not valid."},
    {0x80000036, "The privilege selection is not valid."},
    {0x80000037, "The rate is not valid."},
    {0x80000038, "The request mode is not valid."},
    {0x80000039, "The terminal identifier is not valid."},
    {0x8000003A, "The terminal mode is not valid."},
    {0x8000003B, "The timeout is not valid."},
    {0x8000003C, "The tone is not valid."},
    {0x8000003D, "The tone list is not valid."},
    {0x8000003E, "The tone mode is not valid."},
    {0x8000003F, "The transfer mode is not valid."},
    {0x80000040, "No line device matches the call parameters."},
    {0x80000041, "The call is not a conference."},
    {0x80000042, "The line device is not present."},
    {0x80000043, "The telephony service provider is missing."},
    {0x80000044, "Not enough memory for the telephony operation."},
    {0x80000045, "No request is pending."},
    {0x80000046, "The application does not own the call."},
    {0x80000047, "The application is not registered for requests."},
    {0x80000048, "The telephony operation failed."},
    {0x80000049, "The telephony operation is not available."},
    {0x8000004A, "The data rate is not available."},
    {0x8000004B, "The telephony resources are in use."},
    {0x8000004C, "Too many requests are outstanding."},
    {0x8000004D, "The structure is too small for the result."},
    {0x8000004E, "The call target was not found."},
    {0x8000004F, "The call target is the calling party."},
    {0x80000050, "The telephony interface is not initialised."},
    {0x80000051, "The user information is too big."},
    {0x80000052, "The telephony configuration changed; initialise again."},
    {0x80000053, "The address is blocked."},
    {0x80000054, "The billing information was rejected."},
    {0x80000055, "The feature is not valid."},
    {0x80000056, "Only one instance of the application may run."},
    {0x80000057, "The agent identifier is not valid."},
    {0x80000058, "The agent group is not valid."},
    {0x80000059, "The password is not valid."},
    {0x8000005A, "The agent state is not valid."},
    {0x8000005B, "The agent activity is not valid."},
    {0x8000005C, "A voice answered where the dial string expected a tone."},
}};

}  // namespace

std::optional<std::string_view> LineErrorText(TapiResult code) {
  const auto value = static_cast<std::uint32_t>(code);
  const auto row = std::find_if(kLineErrors.begin(), kLineErrors.end(),
                                [value](const LineErrorRow& r) { return r.code == value; });
  if (row == kLineErrors.end()) return std::nullopt;
  return row->text;
}

}  // namespace vexo
