#include "cli/commands.h"

#include <array>

namespace vexo::cli {

int RunVersion(int argc, char** argv);
int RunModemTalk(int argc, char** argv);
int RunInfo(int argc, char** argv);
int RunPages(int argc, char** argv);
int RunSettings(int argc, char** argv);
int RunHeader(int argc, char** argv);
int RunList(int argc, char** argv);
int RunShow(int argc, char** argv);
int RunMove(int argc, char** argv);
int RunCopy(int argc, char** argv);
int RunDelete(int argc, char** argv);
int RunModems(int argc, char** argv);
int RunRender(int argc, char** argv);
int RunImport(int argc, char** argv);
int RunPreview(int argc, char** argv);
int RunCompose(int argc, char** argv);
int RunSend(int argc, char** argv);
int RunReceive(int argc, char** argv);
int RunAnswer(int argc, char** argv);
int RunExport(int argc, char** argv);
int RunProbe(int argc, char** argv);
int RunQueue(int argc, char** argv);
int RunPrinter(int argc, char** argv);

std::span<const Command> Commands() {
  static const std::array kCommands{
      Command{"version", "print the program version", RunVersion},
      Command{"modem-talk", "write AT to a modem and print its answer", RunModemTalk},
      Command{"info", "print the pages of a fax TIFF file and whether they can be sent", RunInfo},
      Command{"pages", "print the page count of a fax TIFF file", RunPages},
      Command{"settings", "print the settings, or set KEY VALUE", RunSettings},
      Command{"header", "write the header strip of a sent page as a TIFF", RunHeader},
      Command{"list", "list the faxes of a folder", RunList},
      Command{"show", "print every field of one fax record", RunShow},
      Command{"move", "move fax records to another folder", RunMove},
      Command{"copy", "copy fax records to another folder", RunCopy},
      Command{"delete", "move fax records to the deleted folder, or delete them there", RunDelete},
      Command{"modems", "list the modems: phone modem, telephony data and voice lines", RunModems},
      Command{"render", "render text files into a fax TIFF file", RunRender},
      Command{"import", "convert TIFF images, PDF files and pictures into a fax TIFF file",
              RunImport},
      Command{"preview", "write every page of a TIFF file as a PNG image", RunPreview},
      Command{"compose", "make one fax file of a cover page and attachments", RunCompose},
      Command{"send", "compose files into a fax, send it and file it in the sent folder", RunSend},
      Command{"receive", "wait for a call, receive one fax and file it in the inbox", RunReceive},
      Command{"answer", "answer every call, receive each fax and file it in the inbox", RunAnswer},
      Command{"export", "write the pages of a fax TIFF file as one PDF, or as PNG images",
              RunExport},
      Command{"probe", "find fax modems and suggest the port and class settings", RunProbe},
      Command{"queue", "queue faxes in the outbox, list or cancel them, send those due", RunQueue},
      Command{"printer", "set up or remove the print queue Fax that queues printed documents",
              RunPrinter},
  };
  return kCommands;
}

}  // namespace vexo::cli
