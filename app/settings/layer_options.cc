#include "app/settings/layer_options.h"

namespace vexo {

ConvertOptions ConvertOptionsOf(const AppSettings& settings) {
  ConvertOptions options;
  options.quality = settings.T2TQuality;
  options.paperSize = PaperSizeFromValue(settings.PaperSize).value_or(PaperSize::kA4);
  options.paperHeight = settings.T2TPaperHeight;
  options.lineExtra = settings.T2TLineExtra;
  options.wordWrap = settings.T2TWordWrap != 0;
  options.tabSize = settings.T2TTabSize;
  options.font = settings.T2TFont;
  options.resTransfer = settings.I2TResTransfer;
  options.profile.fullName = settings.ProfileFullName;
  options.profile.faxNumber = settings.ProfileFaxNO;
  options.profile.phone1 = settings.ProfilePhone1;
  options.profile.phone2 = settings.ProfilePhone2;
  options.profile.email = settings.ProfileEmail;
  options.profile.logoFile = settings.ProfileLogo;
  return options;
}

DialSettings DialSettingsOf(const AppSettings& settings) {
  return DialSettings{settings.UseWhatAsSeedNum, settings.SeedCallNum};
}

}  // namespace vexo
