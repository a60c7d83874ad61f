#include "tools/qalv-services/services.h"

#include <string>
#include <string_view>

#include <json/value.h>
#include <json/writer.h>

#include "platform/file_io.h"

namespace qalv::services {
namespace {

constexpr char kHintPath[] = "/acquvSrv/hint.htm";
constexpr std::string_view kBatchField = "batchid=";

// The reader sends the batch number as it stands, not percent-encoded, so
// the body is read as given: a batch number may hold "&", "+" or "%".
bool BatchFromBody(const std::string& body, std::string& batch) {
  if (!body.starts_with(kBatchField)) return false;
  batch = body.substr(kBatchField.size());
  return true;
}

// A batch number names one file under hints/ and nothing outside it.
bool IsFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\\\0", 3)) == std::string::npos;
}

std::string Reply(const std::string& code, const std::string& msg, const std::string& vfyhint) {
  Json::Value reply(Json::objectValue);
  reply["code"] = code;
  reply["msg"] = msg;
  if (code == "0") reply["vfyhint"] = vfyhint;
  Json::StreamWriterBuilder writer;
  writer["indentation"] = "";
  writer["emitUTF8"] = true;
  return Json::writeString(writer, reply);
}

std::string Answer(const std::filesystem::path& dataDir, const std::string& body) {
  std::string batch;
  if (!BatchFromBody(body, batch) || !IsFileName(batch)) {
    return Reply("2", "批次號碼格式錯誤", "");
  }
  SecureBuffer rules;
  if (ReadWholeFile(dataDir / "hints" / batch, rules) != 0) {
    return Reply("1", "查無此批次的密碼提示", "");
  }
  return Reply("0", "", std::string(rules.data(), rules.data() + rules.size()));
}

}  // namespace

void AddHintService(Routes& routes, const std::filesystem::path& dataDir) {
  routes.Post(kHintPath, [dataDir](const httplib::Request& request, httplib::Response& response) {
    response.set_content(Answer(dataDir, request.body), "application/json; charset=utf-8");
  });
}

}  // namespace qalv::services
