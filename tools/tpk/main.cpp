// tpk: the reader's headless twin. Standard output carries one JSON object;
// trace lines and diagnostics go to standard error.
#include <cstdio>

#include "platform/trace.h"
#include "tools/tpk/commands.h"
#include "tools/tpk/trust.h"

int main(int argc, char** argv) {
  using namespace qalv;
  trace::SetLogSink({});
  trace::SetDebugSink({});

  CLI::App app{"tpk: inspect and verify electronic policy packages", "tpk"};
  app.require_subcommand(1);
  app.fallthrough();
  bool traceOn = false;
  app.add_flag("--trace", traceOn, "Write the reader's log lines and hex dumps to standard error");
  tpk::AddTrustOption(app);
  app.parse_complete_callback([&traceOn] {
    if (traceOn) {
      trace::SetLogSink(trace::StderrSink());
      trace::SetDebugSink(trace::StderrSink());
    }
  });

  int exitCode = tpk::kExitOk;
  tpk::AddCertCommand(app, exitCode);
  tpk::AddInspectCommand(app, exitCode);
  tpk::AddVerifySignatureCommand(app, exitCode);
  tpk::AddCaCommand(app, exitCode);
  tpk::AddPackCommand(app, exitCode);
  tpk::AddChainCommand(app, exitCode);
  tpk::AddCheckCertCommand(app, exitCode);
  tpk::AddUnsealCommand(app, exitCode);
  tpk::AddVerifyCommand(app, exitCode);
  tpk::AddHintCommand(app, exitCode);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e, std::cerr, std::cerr);
    return tpk::kExitUsage;
  }
  return exitCode;
}
