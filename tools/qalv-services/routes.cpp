#include "tools/qalv-services/services.h"

#include <utility>

namespace qalv::services {

Routes::Routes(httplib::Server& server, size_t maxBody) : server_(server), maxBody_(maxBody) {
  // Announced lengths past the cap the library skips and refuses itself, on
  // every route; the reader below catches the rest.
  server_.set_payload_max_length(maxBody_);
}

void Routes::Post(const std::string& pattern, httplib::Server::Handler handler) {
  server_.Post(pattern, Bounded(std::move(handler)));
}

void Routes::RefuseTheRest() {
  const auto notFound = Bounded([](const httplib::Request&, httplib::Response& response) {
    response.status = 404;
  });
  server_.Post(".*", notFound);
  server_.Put(".*", notFound);
  server_.Patch(".*", notFound);
  server_.Delete(".*", notFound);
}

httplib::Server::HandlerWithContentReader Routes::Bounded(httplib::Server::Handler handler) const {
  return [maxBody = maxBody_, handler = std::move(handler)](const httplib::Request& request,
                                                            httplib::Response& response,
                                                            const httplib::ContentReader& reader) {
    httplib::Request whole = request;
    bool tooLong = false;
    // A body too long is still read to its end, so that the next request on
    // the connection is read from where it starts.
    const auto receive = [&](const char* bytes, size_t count) {
      tooLong = tooLong || count > maxBody - whole.body.size();
      if (!tooLong) whole.body.append(bytes, count);
      return true;
    };
    const bool read = request.is_multipart_form_data()
                          ? reader([](const httplib::MultipartFormData&) { return true; }, receive)
                          : reader(receive);
    if (!read) return;  // the library has set the status (413 past the announced cap)
    if (tooLong) {
      response.status = 413;
      return;
    }
    // What the library does for the handlers that it hands the body itself.
    if (whole.get_header_value("Content-Type") == "application/x-www-form-urlencoded") {
      httplib::detail::parse_query_text(whole.body, whole.params);
    }
    handler(whole, response);
  };
}

}  // namespace qalv::services
