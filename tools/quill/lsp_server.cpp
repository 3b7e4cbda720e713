// quill lsp: a language server on standard input and output.  One thread
// and one loop: it waits for the editor's messages, for the assembler
// checks it started and for the end of a change's quiet time.  A change is
// translated once the editor has been quiet for the debounce time (an
// open or a save at once), in memory; the translator's messages are sent
// at once, the assembler's when its check ends.  A newer change stops a
// check still running.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ftw.h>
#include <map>
#include <memory>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

#include "lsp_assembly.h"
#include "lsp_features.h"
#include "lsp_rpc.h"
#include "quill.h"
#include "quillwright_version.h"

namespace {

constexpr double kDebounce = 0.3;  // seconds without a change before translating

// JSON-RPC error codes.
constexpr int kParseError = -32700;
constexpr int kMethodNotFound = -32601;
constexpr int kInvalidParams = -32602;

struct Document {
  std::string uri;
  SourceText source;
  Place place;
  Analysis analysis;
  double due = 0;  // a change waits for the quiet time until then (0: none)
  AssemblyCheck check;
  // The assembler's last messages, and the text of the line each stands on
  // (kept while the text stays, until the next check reports).
  std::vector<Diagnostic> assembled;
  std::vector<std::string> assembled_lines;
};

// "file:///a/b%20c/pay.QWR" -> "/a/b c/pay.QWR"; empty for other schemes.
std::string path_of(const std::string& uri) {
  if (uri.compare(0, 7, "file://") != 0) return "";
  std::string path;
  for (std::size_t i = 7; i < uri.size(); ++i) {
    if (uri[i] == '%' && i + 2 < uri.size() && std::isxdigit(uri[i + 1]) && std::isxdigit(uri[i + 2])) {
      path += char(std::stoi(uri.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      path += uri[i];
    }
  }
  return path;
}

// The program's name as the translator takes it: NAME of NAME.QWR, or
// "program" for a name it could not take (blanks, a leading "-").
std::string base_of(const std::string& path) {
  std::string base = path.substr(path.find_last_of('/') + 1);
  for (const char* ext : {".QWR", ".qwr"}) {
    std::size_t n = std::strlen(ext);
    if (base.size() > n && base.compare(base.size() - n, n, ext) == 0) base.resize(base.size() - n);
  }
  bool plain = !base.empty() && base[0] != '-' && base.size() < 200 &&
               base.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_.-") ==
                   std::string::npos;
  return plain ? base : "program";
}

bool blank(const std::string& text) { return text.find_first_not_of(" \t\r\n") == std::string::npos; }

int remove_entry(const char* path, const struct stat*, int, struct FTW*) {
  remove(path);
  return 0;
}

// Removes a work folder the server made, with what it holds.
void remove_tree(const std::string& path) {
  if (!path.empty()) nftw(path.c_str(), remove_entry, 8, FTW_DEPTH | FTW_PHYS);
}

class Server {
 public:
  explicit Server(const Toolchain& tools)
      : tools_(tools), words_(load_vocabulary(tools.root + "/include")), channel_(0, 1) {}
  ~Server() {
    documents_.clear();  // ends the checks still running
    remove_tree(work_root_);
  }

  int run() {
    if (!make_work_root()) return kCannotWrite;
    for (;;) {
      std::vector<pollfd> waits = {{0, POLLIN, 0}};
      std::vector<Document*> checking;
      for (auto& [uri, doc] : documents_) {
        if (!doc->check.running()) continue;
        waits.push_back({doc->check.fd(), POLLIN, 0});
        checking.push_back(doc.get());
      }
      int r = poll(waits.data(), waits.size(), wait_ms());
      if (r < 0 && errno != EINTR) return 1;
      for (std::size_t k = 1; r > 0 && k < waits.size(); ++k)
        if (waits[k].revents) take_check(*checking[k - 1]);
      if (r > 0 && waits[0].revents) {
        if (!channel_.fill()) return exit_status();
        std::string body;
        while (channel_.next(body)) {
          handle(body);
          if (exited_) return exit_status();
        }
      }
      run_due();
      stop_overdue();
    }
  }

 private:
  int exit_status() const { return shutdown_ ? 0 : 1; }

  bool make_work_root() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp == '/' ? tmp : "/tmp") + "/quill-lsp.XXXXXX";
    if (!mkdtemp(pattern.data())) {
      say("cannot make a work folder in " + pattern.substr(0, pattern.rfind('/')));
      return false;
    }
    work_root_ = pattern;
    return true;
  }

  // Until the earliest quiet time ends, or a check's time limit.
  int wait_ms() const {
    double next = 0;
    for (const auto& [uri, doc] : documents_) {
      if (doc->due > 0 && (next == 0 || doc->due < next)) next = doc->due;
      if (doc->check.running()) {
        double limit = now_seconds() + 1;
        if (next == 0 || limit < next) next = limit;
      }
    }
    if (next == 0) return -1;
    return std::max(0, int((next - now_seconds()) * 1000) + 1);
  }

  // ---- messages ------------------------------------------------------
  void handle(const std::string& body) {
    json message = json::parse(body, nullptr, false);
    if (!message.is_object()) {
      reply_error(nullptr, kParseError, "the message is not JSON");
      return;
    }
    json id = message.contains("id") ? message["id"] : json();
    bool request = message.contains("id");
    std::string method = message.value("method", "");
    json params = message.value("params", json::object());
    try {
      json result;
      if (dispatch(method, params, result)) {
        if (request) channel_.send({{"jsonrpc", "2.0"}, {"id", id}, {"result", result}});
      } else if (request) {
        reply_error(id, kMethodNotFound, "no method " + method);
      }
    } catch (const std::exception& e) {
      if (request) reply_error(id, kInvalidParams, e.what());
    }
  }

  void reply_error(const json& id, int code, const std::string& text) {
    channel_.send({{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", text}}}});
  }

  // Answers `method`; false when there is no such method.
  bool dispatch(const std::string& method, const json& params, json& result) {
    if (method == "initialize") {
      result = initialize(params);
    } else if (method == "shutdown") {
      shutdown_ = true;
    } else if (method == "exit") {
      exited_ = true;
    } else if (method == "textDocument/didOpen") {
      const json& doc = params.at("textDocument");
      open(doc.at("uri").get<std::string>(), doc.at("text").get<std::string>());
    } else if (method == "textDocument/didChange") {
      change(params);
    } else if (method == "textDocument/didSave") {
      if (Document* doc = find(params)) analyse_now(*doc);
    } else if (method == "textDocument/didClose") {
      close(params);
    } else if (method == "textDocument/hover") {
      result = at_position(params, hover_at);
    } else if (method == "textDocument/definition") {
      result = at_position(params, definition_at);
    } else if (method == "textDocument/references") {
      bool with = params.value("context", json::object()).value("includeDeclaration", true);
      result = at_position(params, [with](const View& v, long line, long col) {
        return references_at(v, line, col, with);
      });
    } else if (method == "textDocument/documentSymbol") {
      Document* doc = current(params);
      result = doc ? symbols_of(view(*doc)) : json(nullptr);
    } else if (method == "textDocument/completion") {
      result = at_position(params, completion_at);
    } else {
      return method.rfind("$/", 0) == 0 || method == "initialized" ||
             method.rfind("workspace/", 0) == 0;  // notifications that need nothing
    }
    return true;
  }

  json initialize(const json& params) {
    json options = params.value("initializationOptions", json::object());
    if (options.is_object() && options.contains("debounceMs") && options["debounceMs"].is_number())
      debounce_ = std::max(0.0, options["debounceMs"].get<double>() / 1000);
    return {{"capabilities",
             {{"textDocumentSync", {{"openClose", true}, {"change", 1}, {"save", {{"includeText", false}}}}},
              {"hoverProvider", true},
              {"definitionProvider", true},
              {"referencesProvider", true},
              {"documentSymbolProvider", true},
              {"completionProvider", {{"triggerCharacters", {"@"}}}}}},
            {"serverInfo", {{"name", "quill"}, {"version", QW_VERSION}}}};
  }

  // ---- documents -------------------------------------------------------
  void open(const std::string& uri, const std::string& text) {
    auto doc = std::make_unique<Document>();
    doc->uri = uri;
    doc->source = SourceText(text);
    std::string path = path_of(uri);
    std::size_t slash = path.find_last_of('/');
    doc->place.folder = slash == std::string::npos ? "" : slash == 0 ? "/" : path.substr(0, slash);
    doc->place.base = base_of(path.empty() ? uri : path);
    doc->place.work = work_root_ + "/" + std::to_string(++opened_);
    if (mkdir(doc->place.work.c_str(), 0700) != 0) say("cannot make " + doc->place.work);
    Document& d = *doc;
    documents_[uri] = std::move(doc);
    analyse_now(d);
  }

  // The whole text comes with each change (the server asks for that); a
  // change of a range is applied to the text held.
  void change(const json& params) {
    Document* doc = find(params);
    if (!doc) return;
    std::string text = doc->source.text();
    for (const json& c : params.at("contentChanges")) {
      if (!c.contains("range")) {
        text = c.at("text").get<std::string>();
        continue;
      }
      SourceText now(text);
      auto offset = [&](const json& p) {
        long line = p.at("line").get<long>() + 1;
        if (line > now.lines()) return text.size();
        std::size_t start = std::size_t(now.line(line).data() - now.text().data());
        return start + std::size_t(now.byte_column(line, p.at("character").get<long>()));
      };
      std::size_t from = offset(c["range"].at("start")), to = offset(c["range"].at("end"));
      if (from > to || to > text.size()) continue;
      text.replace(from, to - from, c.at("text").get<std::string>());
    }
    doc->source = SourceText(std::move(text));
    doc->check.cancel();  // what it checks is out of date
    doc->due = now_seconds() + debounce_;
  }

  void close(const json& params) {
    auto it = documents_.find(params.at("textDocument").at("uri").get<std::string>());
    if (it == documents_.end()) return;
    std::string work = it->second->place.work;
    documents_.erase(it);  // ends its check
    remove_tree(work);
  }

  Document* find(const json& params) {
    auto it = documents_.find(params.at("textDocument").at("uri").get<std::string>());
    return it == documents_.end() ? nullptr : it->second.get();
  }

  // The document a request is about, translated as it stands now.
  Document* current(const json& params) {
    Document* doc = find(params);
    if (doc && doc->due > 0) analyse_now(*doc);
    return doc;
  }

  View view(const Document& doc) const { return View{doc.uri, doc.source, doc.analysis, words_}; }

  template <typename Feature>
  json at_position(const json& params, Feature feature) {
    Document* doc = current(params);
    if (!doc) return nullptr;
    const json& p = params.at("position");
    long line = p.at("line").get<long>() + 1;
    if (line < 1 || line > doc->source.lines()) return nullptr;
    return feature(view(*doc), line, doc->source.byte_column(line, p.at("character").get<long>()));
  }

  // ---- translating and checking -------------------------------------
  void analyse_now(Document& doc) {
    doc.due = 0;
    doc.check.cancel();
    if (blank(doc.source.text())) {
      doc.analysis = Analysis();
      doc.assembled.clear();
      publish(doc);
      return;
    }
    doc.analysis = analyse(doc.source, doc.place);
    if (!doc.analysis.translated) doc.assembled.clear();
    publish(doc);
    if (doc.analysis.translated && !doc.check.start(doc.place, tools_))
      say("cannot start the assembler's check of " + doc.uri);
  }

  void run_due() {
    double now = now_seconds();
    for (auto& [uri, doc] : documents_)
      if (doc->due > 0 && doc->due <= now) analyse_now(*doc);
  }

  void take_check(Document& doc) {
    if (!doc.check.read_some()) return;
    doc.assembled = doc.check.messages(doc.source, doc.place);
    doc.assembled_lines.clear();
    for (const Diagnostic& d : doc.assembled) doc.assembled_lines.emplace_back(doc.source.line(d.line));
    publish(doc);
  }

  void stop_overdue() {
    for (auto& [uri, doc] : documents_) {
      if (!doc->check.overdue()) continue;
      doc->check.cancel();
      doc->assembled = {Diagnostic{1, -1, -1, true, AssemblyCheck::overdue_message(), "nasm"}};
      doc->assembled_lines = {std::string(doc->source.line(1))};
      publish(*doc);
    }
  }

  void publish(const Document& doc) {
    json list = json::array();
    auto add = [&](const Diagnostic& d) {
      long line = std::clamp<long>(d.line, 1, doc.source.lines());
      list.push_back({{"range", range_of(doc.source, line, d.first, d.last)},
                      {"severity", d.error ? 1 : 2},
                      {"source", d.source},
                      {"message", d.text}});
    };
    for (const Diagnostic& d : doc.analysis.diagnostics) add(d);
    for (std::size_t k = 0; k < doc.assembled.size(); ++k)
      if (doc.source.line(doc.assembled[k].line) == doc.assembled_lines[k]) add(doc.assembled[k]);
    channel_.send({{"jsonrpc", "2.0"},
                   {"method", "textDocument/publishDiagnostics"},
                   {"params", {{"uri", doc.uri}, {"diagnostics", list}}}});
  }

  Toolchain tools_;
  Vocabulary words_;
  Channel channel_;
  std::string work_root_;
  std::map<std::string, std::unique_ptr<Document>> documents_;
  double debounce_ = kDebounce;
  long opened_ = 0;
  bool shutdown_ = false, exited_ = false;
};

}  // namespace

int serve_language(const Toolchain& tools) {
  signal(SIGPIPE, SIG_IGN);  // an editor that went away ends the loop at its end of input
  // The assembler of a check that is stopped becomes the server's child,
  // so that the server collects it (lsp_assembly.cpp).
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  Server server(tools);
  return server.run();
}
