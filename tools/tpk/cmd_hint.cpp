// tpk hint --url URL --batch BATCH: the password hint as the prompt shows it.
#include <memory>
#include <string>

#include "net/password_hint.h"
#include "tools/tpk/cert_json.h"
#include "tools/tpk/commands.h"
#include "tools/tpk/headless_window.h"

namespace qalv::tpk {

void AddHintCommand(CLI::App& app, int& exitCode) {
  auto url = std::make_shared<std::string>();
  auto batch = std::make_shared<std::string>();
  CLI::App* command = app.add_subcommand("hint", "Ask the password-hint service of a policy");
  command->add_option("--url", *url, "The policy's certificate-chain address")->required();
  command->add_option("--batch", *batch, "The policy's batch number")->required();
  command->callback([url, batch, &exitCode] {
    HeadlessWindow window(std::nullopt, false);
    Json::Value answer(Json::objectValue);
    answer["text"] = QueryPasswordHint(*url, *batch, &window);
    answer["messages"] = window.messages();
    PrintJson(answer);
    exitCode = kExitOk;
  });
}

}  // namespace qalv::tpk
