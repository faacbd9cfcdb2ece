#include "tests/support/nginx_server.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>
#include <utility>

#include "tests/support/folder_watch.h"
#include "tests/support/loopback.h"

extern char** environ;

namespace testsupport {

namespace {

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

std::string ReadText(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

std::string NginxPath() {
  for (const char* candidate : {"/usr/sbin/nginx", "/usr/bin/nginx"}) {
    if (::access(candidate, X_OK) == 0) return candidate;
  }
  return "";
}

NginxServer::NginxServer(const std::string& httpBlock, int portCount) {
  for (int i = 0; i < portCount; ++i) ports_.push_back(FreeLoopbackPort());
  Start(httpBlock);
}

NginxServer::NginxServer(const std::string& httpBlock, std::vector<int> ports) : ports_(std::move(ports)) {
  Start(httpBlock);
}

void NginxServer::Start(const std::string& httpBlock) {
  const std::string nginx = NginxPath();
  if (nginx.empty()) return;
  const std::filesystem::path folder = scratch_.Path();
  root_ = folder / "root";
  std::filesystem::create_directories(root_);
  std::filesystem::create_directories(folder / "temp");
  const int portCount = static_cast<int>(ports_.size());

  std::string body = httpBlock;
  for (int i = 0; i < portCount; ++i) ReplaceAll(body, "@PORT" + std::to_string(i) + "@", std::to_string(ports_[i]));
  ReplaceAll(body, "@ROOT@", root_.string());
  const std::string temp = (folder / "temp").string();
  // nginx running as root (also root of a user namespace) hands its folders to "nobody" unless
  // told to stay the user it is.
  const passwd* user = ::getpwuid(::geteuid());
  const group* userGroup = ::getgrgid(::getegid());
  const std::string userLine = user != nullptr && userGroup != nullptr && ::geteuid() == 0
                                   ? "user " + std::string(user->pw_name) + " " + userGroup->gr_name + ";\n"
                                   : std::string();
  std::ofstream(folder / "nginx.conf") << userLine << "pid " << (folder / "nginx.pid").string() << ";\n"
                                       << "error_log " << (folder / "error.log").string() << " info;\n"
                                       << "events { worker_connections 64; }\n"
                                       << "http {\n"
                                       << "  default_type application/octet-stream;\n"
                                       << "  log_format counted '$server_port $status $uri \"$http_range\"';\n"
                                       << "  access_log " << (folder / "access.log").string() << " counted;\n"
                                       << "  log_format sent '$server_port $uri $bytes_sent';\n"
                                       << "  access_log " << (folder / "sent.log").string() << " sent;\n"
                                       << "  client_body_temp_path " << temp << "; proxy_temp_path " << temp
                                       << "; fastcgi_temp_path " << temp << "; uwsgi_temp_path " << temp
                                       << "; scgi_temp_path " << temp << ";\n"
                                       << body << "\n}\n";

  const std::string conf = (folder / "nginx.conf").string();
  std::vector<std::string> arguments = {
      nginx, "-p", folder.string() + "/", "-c", conf, "-g", "daemon off; master_process off;"};
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  // nginx writes its pid file once every port is bound: each change in the folder is a moment
  // to look again.
  FolderWatch watch(folder);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, (folder / "stderr.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (posix_spawn(&pid_, nginx.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = 0;
  posix_spawn_file_actions_destroy(&actions);
  if (pid_ == 0) return;

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    bool all = true;
    for (const int port : ports_) all = all && LoopbackAccepts(port);
    if (all) {
      started_ = true;
      break;
    }
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {  // configuration refused
      pid_ = 0;
      break;
    }
    if (!watch.WaitForChange(deadline)) break;
  }
  // The probes above are logged as requests of nobody; they never reached the HTTP layer.
}

NginxServer::~NginxServer() {
  if (pid_ == 0) return;
  ::kill(pid_, SIGTERM);
  ::waitpid(pid_, nullptr, 0);
}

std::string NginxServer::BaseUrl(int index, const char* scheme) const {
  return std::string(scheme) + "://127.0.0.1:" + std::to_string(Port(index)) + "/";
}

std::string NginxServer::Url(int index, const std::string& path, const char* scheme) const {
  return BaseUrl(index, scheme) + path;
}

std::vector<std::string> NginxServer::LogLines(int index) const {
  std::vector<std::string> lines;
  std::istringstream log(ReadText(scratch_.Path() / "access.log"));
  const std::string prefix = std::to_string(Port(index)) + " ";
  for (std::string line; std::getline(log, line);) {
    if (line.rfind(prefix, 0) == 0) lines.push_back(line);
  }
  return lines;
}

int NginxServer::RequestCount(int index, const std::string& path) const {
  int count = 0;
  for (const std::string& line : LogLines(index)) {
    std::istringstream fields(line);
    std::string port, status, uri;
    fields >> port >> status >> uri;
    if (path.empty() || uri == "/" + path) ++count;
  }
  return count;
}

int NginxServer::WaitForRequests(int index, const std::string& path, int count, int limitMs) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  // nginx appends to its access log in this folder as each request ends.
  FolderWatch watch(scratch_.Path());
  int seen = RequestCount(index, path);
  while (seen < count && watch.WaitForChange(deadline)) seen = RequestCount(index, path);
  return seen;
}

std::uint64_t NginxServer::BytesSent(int index, const std::string& path) const {
  std::uint64_t total = 0;
  std::istringstream log(ReadText(scratch_.Path() / "sent.log"));
  for (std::string line; std::getline(log, line);) {
    std::istringstream fields(line);
    std::string port, uri;
    std::uint64_t bytes = 0;
    if (!(fields >> port >> uri >> bytes) || port != std::to_string(Port(index))) continue;
    if (path.empty() || uri == "/" + path) total += bytes;
  }
  return total;
}

std::string NginxServer::ErrorLog() const {
  return ReadText(scratch_.Path() / "stderr.log") + ReadText(scratch_.Path() / "error.log");
}

}  // namespace testsupport
