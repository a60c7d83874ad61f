// The exchange over libcurl. One easy handle carries the request; a private
// multi handle drives it so that the receive time-out and the deadline can be
// watched to the millisecond (libcurl's own low-speed check counts whole
// seconds, and its progress callback comes only once a second while the line
// is quiet).
#include "net/http_exchange.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>

namespace qalv {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Where the caller sets no receive time-out: no byte for this long ends the
// exchange, so a stalled server never holds the calling thread for good.
constexpr milliseconds kDefaultReceiveTimeout{30000};

// The length field is 32 bits wide; a longer body cannot be handed on, so
// no reply cap reaches past it.
constexpr size_t kMaxBodyLength = INT32_MAX;

struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using UrlHandle = std::unique_ptr<CURLU, UrlDeleter>;
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;

// A multi handle with the one easy handle attached; detaches it before both go.
class Driver {
 public:
  explicit Driver(CURL* easy) : multi_(curl_multi_init()), easy_(easy) {
    attached_ = multi_ != nullptr && curl_multi_add_handle(multi_, easy_) == CURLM_OK;
  }
  ~Driver() {
    if (attached_) curl_multi_remove_handle(multi_, easy_);
    if (multi_ != nullptr) curl_multi_cleanup(multi_);
  }
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  bool attached() const { return attached_; }
  CURLM* multi() const { return multi_; }

 private:
  CURLM* multi_;
  CURL* easy_;
  bool attached_ = false;
};

// What the callbacks learn while the reply comes in.
struct Transfer {
  CURL* easy = nullptr;
  Clock::time_point lastTraffic;
  int32_t status = 0;  // of the final header block, once it is complete
  size_t cap = 0;      // body bytes allowed
  SecureBuffer body;   // grows by doubling up to cap + 1; every byte past `length` is zero
  size_t length = 0;
  bool noMemory = false;
  bool pastLimit = false;  // the deadline passed or the body would outgrow the cap
};

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string UrlPart(CURLU* url, CURLUPart part) {
  char* text = nullptr;
  if (curl_url_get(url, part, &text, 0) != CURLUE_OK) return {};
  std::string copy(text);
  curl_free(text);
  return copy;
}

// The object name as a request target: a leading "/", and the bytes that
// cannot stand in a request line (controls, space, non-ASCII) percent-encoded.
std::string RequestTarget(std::string_view objectName) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string target = objectName.starts_with('/') ? "" : "/";
  for (const char c : objectName) {
    const auto byte = static_cast<uint8_t>(c);
    if (byte > 0x20 && byte < 0x7F) {
      target += c;
    } else {
      target += '%';
      target += kDigits[byte >> 4];
      target += kDigits[byte & 0x0F];
    }
  }
  return target;
}

// The address actually requested: scheme, host and port of the service
// address, with the object name (or the address's own path, its query
// dropped) as target. User name, password and fragment are never sent.
// Null when the address is not an http or https URL with a host.
UrlHandle TargetUrl(const HttpRequest& request) {
  if (request.url.find('\0') != std::string::npos) return {};
  UrlHandle url(curl_url());
  if (!url || curl_url_set(url.get(), CURLUPART_URL, request.url.c_str(), 0) != CURLUE_OK) {
    return {};
  }
  const std::string scheme = UrlPart(url.get(), CURLUPART_SCHEME);
  if ((scheme != "http" && scheme != "https") || UrlPart(url.get(), CURLUPART_HOST).empty()) {
    return {};
  }
  for (CURLUPart part : {CURLUPART_USER, CURLUPART_PASSWORD, CURLUPART_OPTIONS,
                         CURLUPART_FRAGMENT, CURLUPART_QUERY}) {
    if (curl_url_set(url.get(), part, nullptr, 0) != CURLUE_OK) return {};
  }
  if (!request.objectName) return url;
  const std::string target = RequestTarget(*request.objectName);
  const size_t mark = target.find('?');
  const std::string path = target.substr(0, mark);
  if (curl_url_set(url.get(), CURLUPART_PATH, path.c_str(), 0) != CURLUE_OK) return {};
  if (mark != std::string::npos) {
    const std::string query = target.substr(mark + 1);
    if (curl_url_set(url.get(), CURLUPART_QUERY, query.c_str(), 0) != CURLUE_OK) return {};
  }
  return url;
}

[[nodiscard]] bool Append(HeaderList& list, const std::string& line) {
  curl_slist* longer = curl_slist_append(list.get(), line.c_str());
  if (longer == nullptr) return false;
  list.release();  // `longer` is the same list, one entry longer
  list.reset(longer);
  return true;
}

// "Accept: */*" and the caller's header line (split at any line breaks it
// carries, so a trailing CR LF cannot end the header block early). libcurl's
// own additions are taken back: its "Expect: 100-continue" for larger bodies
// and its form Content-Type, so the server sees the POST as given.
[[nodiscard]] bool BuildHeaders(const HttpRequest& request, HeaderList& list) {
  if (!Append(list, "Accept: */*") || !Append(list, "Expect:")) return false;
  bool namesContentType = false;
  std::string_view rest = request.headerLine ? *request.headerLine : std::string_view();
  while (!rest.empty()) {
    const size_t end = std::min(rest.find('\n'), rest.size());
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(std::min(end + 1, rest.size()));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    constexpr std::string_view kContentType = "content-type:";
    namesContentType |= line.size() >= kContentType.size() &&
                        curl_strnequal(line.data(), kContentType.data(), kContentType.size());
    if (!Append(list, std::string(line))) return false;
  }
  return namesContentType || Append(list, "Content-Type:");
}

size_t OnHeader(char* line, size_t size, size_t count, void* context) {
  Transfer& transfer = *static_cast<Transfer*>(context);
  const size_t n = size * count;
  transfer.lastTraffic = Clock::now();
  const std::string_view text(line, n);
  if (transfer.status != 0 || (text != "\r\n" && text != "\n")) return n;
  long code = 0;
  curl_easy_getinfo(transfer.easy, CURLINFO_RESPONSE_CODE, &code);
  if (code < 200) return n;  // an interim reply; the final one follows
  transfer.status = static_cast<int32_t>(code);
  if (transfer.status != 200) return 0;  // any other status: the body is not read
  // A body announced longer than the cap is refused before its first byte.
  // (libcurl's own size limit would refuse it while the status line could
  // still be a refusal, whose body is never read anyway.)
  curl_off_t announced = -1;
  curl_easy_getinfo(transfer.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
  if (announced > static_cast<curl_off_t>(transfer.cap)) {
    transfer.pastLimit = true;
    return 0;
  }
  return n;
}

// Room for `more` body bytes and the zero byte after them, where the body
// stays within the cap.
[[nodiscard]] bool Reserve(Transfer& transfer, size_t more) {
  const size_t needed = transfer.length + more + 1;
  if (needed <= transfer.body.size()) return true;
  SecureBuffer grown;
  if (!grown.Allocate(std::max(needed, std::min(2 * transfer.body.size(), transfer.cap + 1)))) {
    return false;
  }
  std::copy_n(transfer.body.data(), transfer.length, grown.data());
  transfer.body = std::move(grown);
  return true;
}

size_t OnBody(char* bytes, size_t size, size_t count, void* context) {
  Transfer& transfer = *static_cast<Transfer*>(context);
  const size_t n = size * count;
  transfer.lastTraffic = Clock::now();
  // Bodies of unannounced length (chunked, or up to the closing) stop here,
  // before a byte past the cap is kept.
  if (n > transfer.cap - transfer.length) {
    transfer.pastLimit = true;
    return 0;
  }
  if (!Reserve(transfer, n)) {
    transfer.noMemory = true;
    return 0;
  }
  std::copy_n(reinterpret_cast<const uint8_t*>(bytes), n, transfer.body.data() + transfer.length);
  transfer.length += n;
  return n;
}

template <class T>
[[nodiscard]] bool Set(CURL* easy, CURLoption option, T value, CURLcode& result) {
  result = curl_easy_setopt(easy, option, value);
  return result == CURLE_OK;
}

const char* FromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

CURLcode Configure(CURL* easy, const HttpRequest& request, CURLU* url, curl_slist* headers,
                   Transfer& transfer, char* errorText) {
  static const char kNoBody[] = "";
  const char* body = request.body != nullptr ? reinterpret_cast<const char*>(request.body) : kNoBody;
  CURLcode result = CURLE_OK;
  const bool set =
      Set(easy, CURLOPT_ERRORBUFFER, errorText, result) &&
      Set(easy, CURLOPT_CURLU, url, result) &&
      Set(easy, CURLOPT_PROTOCOLS_STR, "http,https", result) &&
      Set(easy, CURLOPT_NOSIGNAL, 1L, result) &&
      Set(easy, CURLOPT_USERAGENT, "QUV Reader", result) &&
      Set(easy, CURLOPT_HTTPHEADER, headers, result) &&
      Set(easy, CURLOPT_POST, 1L, result) &&
      Set(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.bodyLength), result) &&
      Set(easy, CURLOPT_POSTFIELDS, body, result) &&
      Set(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.connectTimeoutMs), result) &&
      Set(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L, result) &&
      Set(easy, CURLOPT_HEADERFUNCTION, OnHeader, result) &&
      Set(easy, CURLOPT_HEADERDATA, &transfer, result) &&
      Set(easy, CURLOPT_WRITEFUNCTION, OnBody, result) &&
      Set(easy, CURLOPT_WRITEDATA, &transfer, result);
  if (!set) return result;
  // The trust anchors may be pointed elsewhere as with other TLS clients:
  // CURL_CA_BUNDLE, else SSL_CERT_FILE, names the bundle; SSL_CERT_DIR a
  // folder. Peer and host name checks stay at libcurl's strict defaults.
  const char* bundle = FromEnvironment("CURL_CA_BUNDLE");
  if (bundle == nullptr) bundle = FromEnvironment("SSL_CERT_FILE");
  if (bundle != nullptr && !Set(easy, CURLOPT_CAINFO, bundle, result)) return result;
  const char* folder = FromEnvironment("SSL_CERT_DIR");
  if (folder != nullptr && !Set(easy, CURLOPT_CAPATH, folder, result)) return result;
  return CURLE_OK;
}

CURLcode FromMulti(CURLMcode code) {
  return code == CURLM_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY : CURLE_BAD_FUNCTION_ARGUMENT;
}

// Runs the transfer to its end. The receive clock starts when the request
// goes out; every byte sent or received starts it again, and a quiet spell
// of `idleLimit` ends the transfer with CURLE_OPERATION_TIMEDOUT. Until the
// connection stands, the connection time-out alone applies. Whatever the
// line does, `deadline` ends the transfer the same way, past its limits.
CURLcode Run(CURL* easy, Transfer& transfer, Clock::duration idleLimit,
             Clock::time_point deadline) {
  Driver driver(easy);
  if (!driver.attached()) return CURLE_OUT_OF_MEMORY;
  curl_off_t sentBefore = -1;
  for (;;) {
    int running = 0;
    const CURLMcode performed = curl_multi_perform(driver.multi(), &running);
    if (performed != CURLM_OK) return FromMulti(performed);
    if (running == 0) break;
    const Clock::time_point now = Clock::now();
    if (now >= deadline) {
      transfer.pastLimit = true;
      return CURLE_OPERATION_TIMEDOUT;
    }
    curl_off_t requestStarted = 0;
    curl_off_t sent = 0;
    curl_easy_getinfo(easy, CURLINFO_PRETRANSFER_TIME_T, &requestStarted);
    curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &sent);
    if (requestStarted == 0 || sent != sentBefore) {
      transfer.lastTraffic = now;
      sentBefore = sent;
    }
    const Clock::duration quiet = now - transfer.lastTraffic;
    if (quiet >= idleLimit) return CURLE_OPERATION_TIMEDOUT;
    const Clock::duration wait = std::min(idleLimit - quiet, deadline - now);
    const auto waitMs = std::chrono::ceil<milliseconds>(wait).count();
    const CURLMcode waited = curl_multi_poll(driver.multi(), nullptr, 0,
                                             static_cast<int>(std::min<int64_t>(waitMs, INT_MAX)),
                                             nullptr);
    if (waited != CURLM_OK) return FromMulti(waited);
  }
  int queued = 0;
  const CURLMsg* done = curl_multi_info_read(driver.multi(), &queued);
  return done != nullptr ? done->data.result : CURLE_BAD_FUNCTION_ARGUMENT;
}

void KeepBody(Transfer& transfer, HttpReply& reply) {
  if (transfer.length == 0) return;
  reply.data = std::move(transfer.body);
  reply.data.Shrink(transfer.length + 1);
  reply.length = static_cast<int32_t>(transfer.length);
}

void KeepError(CURLcode result, const char* errorText, HttpReply& reply) {
  reply.systemError = static_cast<uint32_t>(result);
  reply.systemErrorText = *errorText != '\0' ? errorText : curl_easy_strerror(result);
}

// The outcome by how far the exchange got: no connection, a request without
// a complete status, a status other than 200, or a body that ended well or
// was cut short. An exchange past its deadline or its reply cap counts as no
// connection however far it got, so that no caller takes a part as the whole.
HttpReply Conclude(CURLcode result, bool requestSent, Transfer& transfer, const char* errorText,
                   bool cutBodyIsComplete) {
  using Outcome = HttpReply::Outcome;
  HttpReply reply;
  reply.statusCode = transfer.status;
  if (transfer.noMemory || result == CURLE_OUT_OF_MEMORY) {
    reply.outcome = Outcome::kNoMemory;
    KeepError(CURLE_OUT_OF_MEMORY, "", reply);
    KeepBody(transfer, reply);
  } else if (transfer.pastLimit || (transfer.status == 0 && !requestSent)) {
    reply.outcome = Outcome::kConnectFailed;
    KeepError(result, errorText, reply);
  } else if (transfer.status == 200) {
    reply.outcome = result == CURLE_OK || cutBodyIsComplete ? Outcome::kOk : Outcome::kReadFailed;
    if (reply.outcome == Outcome::kReadFailed) KeepError(result, errorText, reply);
    KeepBody(transfer, reply);
  } else {
    reply.outcome = Outcome::kHttpStatus;
  }
  return reply;
}

}  // namespace

HttpReply HttpExchange(const HttpRequest& request) {
  const Clock::time_point deadline = Clock::now() + milliseconds(request.deadlineMs);
  UrlHandle url = TargetUrl(request);
  if (!url) {
    HttpReply reply;
    reply.outcome = HttpReply::Outcome::kBadUrl;
    return reply;
  }
  InitCurlOnce();
  // Everything the easy handle points to outlives it.
  char errorText[CURL_ERROR_SIZE] = {};
  Transfer transfer;
  transfer.cap = std::min(request.maxReplyBytes, kMaxBodyLength);
  HeaderList headers;
  if (!BuildHeaders(request, headers)) {
    return Conclude(CURLE_OUT_OF_MEMORY, false, transfer, errorText, false);
  }
  EasyHandle easy(curl_easy_init());
  if (!easy) return Conclude(CURLE_FAILED_INIT, false, transfer, errorText, false);
  transfer.easy = easy.get();
  CURLcode result = Configure(easy.get(), request, url.get(), headers.get(), transfer, errorText);
  if (result == CURLE_OK) {
    const uint32_t receiveMs = request.receiveTimeoutMs.value_or(0);
    result = Run(easy.get(), transfer,
                 receiveMs != 0 ? milliseconds(receiveMs) : kDefaultReceiveTimeout, deadline);
  }
  curl_off_t requestStarted = 0;
  curl_easy_getinfo(easy.get(), CURLINFO_PRETRANSFER_TIME_T, &requestStarted);
  return Conclude(result, requestStarted != 0, transfer, errorText, request.cutBodyIsComplete);
}

std::string_view ReplyText(const HttpReply& reply) {
  const auto* text = reinterpret_cast<const char*>(reply.data.data());
  return {text, text != nullptr ? strnlen(text, static_cast<size_t>(reply.length)) : 0};
}

}  // namespace qalv
