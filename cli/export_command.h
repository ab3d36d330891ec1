#pragma once
// tarnwick-cli -IMPEX -EXPORTCE=OUT DOC.img: opens the image document and
// writes its type-1 image (header record and stored data) into OUT, the
// export that no menu offers.
namespace tarnwick {

struct CliContext;

int RunExportCommand(CliContext& context);

}  // namespace tarnwick
