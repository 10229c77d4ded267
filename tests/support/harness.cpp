// Running the tool and managing test databases.
#include "tests/support/harness.h"

#include <ctype.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>

#include "lib/kvsrv/kvsrv.h"
#include "tests/support/engines.h"

extern char **environ;

namespace {

std::vector<std::string> ChildEnvironment(const std::vector<std::string> &extra)
{
   std::vector<std::string> env;
   for (char **e = environ; *e != nullptr; e++)
   {
      std::string item = *e;
      if (item.rfind("KORVELD_CONFIG=", 0) == 0 || item.rfind("NO_COLOR=", 0) == 0)
         continue;
      env.push_back(item);
   }
   for (const std::string &item : extra)
   {
      std::string name = item.substr(0, item.find('=') + 1);
      for (auto it = env.begin(); it != env.end();)
         it = (it->rfind(name, 0) == 0) ? env.erase(it) : it + 1;
      env.push_back(item);
   }
   return env;
}

[[noreturn]] void Exec(const std::vector<std::string> &args, const std::vector<std::string> &env)
{
   std::vector<char *> argv;
   std::string bin = KVDBMGR_BIN;
   argv.push_back(const_cast<char *>(bin.c_str()));
   for (const std::string &a : args)
      argv.push_back(const_cast<char *>(a.c_str()));
   argv.push_back(nullptr);
   std::vector<char *> envp;
   for (const std::string &e : env)
      envp.push_back(const_cast<char *>(e.c_str()));
   envp.push_back(nullptr);
   execve(bin.c_str(), argv.data(), envp.data());
   _exit(127);
}

int WaitExit(pid_t pid)
{
   int status = 0;
   while (waitpid(pid, &status, 0) < 0 && errno == EINTR)
   {
   }
   if (WIFEXITED(status))
      return WEXITSTATUS(status);
   return 128 + WTERMSIG(status);
}

// Starts kvdbmgr with its standard input, output and error on three new
// pipes; the parent keeps in[1], out[0] and err[0]. Returns the child's pid.
pid_t StartTool(const std::vector<std::string> &args, const std::vector<std::string> &env, int in[2], int out[2],
                int err[2])
{
   std::vector<std::string> childEnv = ChildEnvironment(env);
   if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0)
      abort();
   pid_t pid = fork();
   if (pid == 0)
   {
      dup2(in[0], 0);
      dup2(out[1], 1);
      dup2(err[1], 2);
      for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
         close(fd);
      Exec(args, childEnv);
   }
   close(in[0]);
   close(out[1]);
   close(err[1]);
   signal(SIGPIPE, SIG_IGN);
   return pid;
}

// Runs kvdbmgr on pipes until it has closed its output and error. |pending|
// goes to its standard input as the pipe takes it. After each read, |more|
// (when given) sees the output so far and may add to |pending|; once it
// returns false it is not asked again, and the input is closed as soon as
// everything pending has gone.
ToolRun RunOnPipes(const std::vector<std::string> &args, const std::vector<std::string> &env, std::string pending,
                   const std::function<bool(const std::string &out, std::string *pending)> &more)
{
   int in[2], out[2], err[2];
   pid_t pid = StartTool(args, env, in, out, err);
   int inFd = in[1];
   fcntl(inFd, F_SETFL, O_NONBLOCK);
   bool asking = static_cast<bool>(more);

   ToolRun run;
   bool outOpen = true, errOpen = true;
   while (outOpen || errOpen)
   {
      if (inFd >= 0 && pending.empty() && !asking)
      {
         close(inFd);
         inFd = -1;
      }
      pollfd fds[3] = {{outOpen ? out[0] : -1, POLLIN, 0},
                       {errOpen ? err[0] : -1, POLLIN, 0},
                       {inFd >= 0 && !pending.empty() ? inFd : -1, POLLOUT, 0}};
      if (poll(fds, 3, 60000) <= 0)
      {
         kill(pid, SIGKILL);
         break;
      }
      char buffer[65536];
      for (int i = 0; i < 2; i++)
      {
         if (!(fds[i].revents & (POLLIN | POLLHUP)))
            continue;
         ssize_t r = read(fds[i].fd, buffer, sizeof(buffer));
         if (r <= 0)
            (i == 0 ? outOpen : errOpen) = false;
         else
            (i == 0 ? run.out : run.err).append(buffer, (size_t)r);
      }
      if (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))
      {
         ssize_t w = write(inFd, pending.data(), pending.size());
         if (w > 0)
            pending.erase(0, (size_t)w);
         if (w < 0)
         {
            pending.clear();
            asking = false;
         }
      }
      if (asking && inFd >= 0)
         asking = more(run.out, &pending);
   }
   if (inFd >= 0)
      close(inFd);
   close(out[0]);
   close(err[0]);
   run.exitCode = WaitExit(pid);
   return run;
}

}  // namespace

ToolRun RunTool(const std::vector<std::string> &args, const std::string &input, const std::vector<std::string> &env)
{
   return RunOnPipes(args, env, input, nullptr);
}

ToolRun RunToolAnswering(const std::vector<std::string> &args, const std::function<std::string(int)> &atQuestion,
                         const std::vector<std::string> &env)
{
   int asked = 0;
   return RunOnPipes(args, env, "", [&](const std::string &out, std::string *pending) {
      // Questions end the output until answered: count them as they appear.
      int count = 0;
      for (size_t at = out.find("(Y/N) "); at != std::string::npos; at = out.find("(Y/N) ", at + 1))
         count++;
      while (count > asked)
      {
         std::string answer = atQuestion(++asked);
         if (answer.empty())
            return false;
         *pending += answer;
      }
      return true;
   });
}

ToolRun RunToolOnTerminal(const std::vector<std::string> &args, const std::string &input,
                          const std::vector<std::string> &env)
{
   std::vector<std::string> childEnv = ChildEnvironment(env);
   int master = -1;
   pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
   if (pid == 0)
      Exec(args, childEnv);
   ToolRun run;
   if (pid < 0)
      return run;
   // Type the keys only once the tool has asked its first question and gone
   // quiet, so that it has put the terminal in single-key mode: a key typed
   // earlier would be echoed and held by the line discipline.
   bool typed = input.empty();
   while (true)
   {
      bool asked = run.out.find("(Y/N) ") != std::string::npos;
      pollfd fd = {master, POLLIN, 0};
      int ready = poll(&fd, 1, (typed || !asked) ? 60000 : 200);
      if (ready == 0 && !typed)
      {
         if (write(master, input.data(), input.size()) < 0)
            break;
         typed = true;
         continue;
      }
      if (ready <= 0)
         break;
      char buffer[4096];
      ssize_t r = read(master, buffer, sizeof(buffer));
      if (r <= 0)
         break;
      run.out.append(buffer, (size_t)r);
   }
   close(master);
   run.exitCode = WaitExit(pid);
   return run;
}

TempDir::TempDir()
{
   char templ[] = "/tmp/kvtest.XXXXXX";
   char *p = mkdtemp(templ);
   if (p == nullptr)
      abort();
   path_ = p;
}

TempDir::~TempDir()
{
   std::string command = "rm -rf '" + path_ + "'";
   if (system(command.c_str()) != 0)
      fprintf(stderr, "cannot remove %s\n", path_.c_str());
}

std::string TempDir::Write(const std::string &name, const std::string &content) const
{
   std::string path = File(name);
   std::ofstream f(path, std::ios::binary);
   f << content;
   return path;
}

bool EngineAvailable(std::string *why)
{
   if (CurrentEngine().available(why))
      return true;
   // The test command starts every engine's server: there a missing engine is
   // a fault of the run, never a reason to skip.
   const char *required = getenv("KV_REQUIRE_ENGINES");
   if (required != nullptr && *required != 0)
   {
      fprintf(stderr, "KV_REQUIRE_ENGINES is set but %s\n", why->c_str());
      abort();
   }
   return false;
}

namespace {

// The test process loads the engine's driver once, through the same library the tool uses.
void LoadDriverOnce(const EngineOps &engine)
{
   static bool loaded = false;
   if (loaded)
      return;
   snprintf(g_szDbDriver, sizeof(g_szDbDriver), "%s", engine.driver);
   if (!DBInit(0, 0, 0, nullptr))
   {
      fprintf(stderr, "cannot load the %s driver for the tests\n", engine.driver);
      abort();
   }
   loaded = true;
}

std::atomic<int> s_databaseCounter{0};

}  // namespace

TestDatabase::TestDatabase()
{
   const EngineOps &engine = CurrentEngine();
   engine_ = engine.name;
   syntax_ = engine.syntax;
   LoadDriverOnce(engine);
   name_ = "kvt_" + std::to_string(getpid()) + "_" + std::to_string(s_databaseCounter++);
   ConnectionSettings settings = engine.createDatabase(name_, dir_);
   config_ = dir_.Write("korveld.conf", "# test configuration\nDBDriver = " + std::string(engine.driver) + "\n" +
                                           settings.ConfigLines());
   settings.Apply();
   connection_ = DBConnect();
   if (connection_ == nullptr)
   {
      ADD_FAILURE() << "cannot connect to the test database " << name_;
      abort();
   }
}

TestDatabase::~TestDatabase()
{
   if (connection_ != nullptr)
      DBDisconnect(static_cast<db_handle_t>(connection_));
   CurrentEngine().dropDatabase(name_, dir_);
}

bool TestDatabase::Exec(const std::string &statement, std::string *error)
{
   char text[1024];
   if (DBQueryEx(static_cast<db_handle_t>(connection_), statement.c_str(), text))
      return true;
   if (error != nullptr)
      *error = text;
   return false;
}

Rows TestDatabase::Query(const std::string &query)
{
   Rows rows;
   char error[1024];
   DB_RESULT result = DBSelectEx(static_cast<db_handle_t>(connection_), query.c_str(), error);
   if (result == nullptr)
   {
      ADD_FAILURE() << "query failed: " << query << ": " << error;
      return rows;
   }
   for (int r = 0; r < DBGetNumRows(result); r++)
   {
      std::vector<std::string> row;
      for (int c = 0; c < DBGetNumColumns(result); c++)
         row.push_back(DBGetFieldText(result, r, c));
      rows.push_back(row);
   }
   DBFreeResult(result);
   return rows;
}

std::string TestDatabase::Value(const std::string &query)
{
   Rows rows = Query(query);
   if (rows.empty() || rows[0].empty())
      return "<none>";
   return rows[0][0];
}

void TestDatabase::CreateConfigTable(bool withSyntax)
{
   std::string error;
   ASSERT_TRUE(Exec("CREATE TABLE config (var_name varchar(63) not null, var_value varchar(2000), "
                    "is_visible integer default 1, need_server_restart integer default 0, PRIMARY KEY(var_name))",
                    &error))
      << error;
   if (withSyntax)
      SetConfig("DBSyntax", syntax_);
}

void TestDatabase::SetConfig(const std::string &name, const std::string &value)
{
   DeleteConfig(name);
   std::string error;
   ASSERT_TRUE(Exec("INSERT INTO config (var_name,var_value,is_visible,need_server_restart) VALUES ('" + name + "','" +
                       value + "',1,0)",
                    &error))
      << error;
}

void TestDatabase::DeleteConfig(const std::string &name)
{
   std::string error;
   ASSERT_TRUE(Exec("DELETE FROM config WHERE var_name='" + name + "'", &error)) << error;
}

std::string TestDatabase::ConfigValue(const std::string &name)
{
   return Value("SELECT var_value FROM config WHERE var_name='" + name + "'");
}

std::string TestDatabase::SchemaFile() const
{
   std::string dialect;
   for (char c : syntax_)
      dialect += (char)tolower((unsigned char)c);
   return std::string(KV_SOURCE_DIR) + "/sql/" + dialect + ".sql";
}

void TestDatabase::InitSchema()
{
   ToolRun run = Run({"init", SchemaFile()});
   ASSERT_EQ(0, run.exitCode) << run.out << run.err;
   ASSERT_NE(std::string::npos, run.out.find("Database initialized successfully\n")) << run.out;
}

void TestDatabase::LoadBatch(const std::string &path)
{
   ToolRun run = Run({"batch", path});
   ASSERT_EQ(0, run.exitCode) << path << "\n" << run.out << run.err;
}

ToolRun TestDatabase::Run(const std::vector<std::string> &args, const std::string &input,
                          const std::vector<std::string> &env)
{
   std::vector<std::string> all = {"-c", config_};
   all.insert(all.end(), args.begin(), args.end());
   return RunTool(all, input, env);
}

ToolRun TestDatabase::RunAnswering(const std::vector<std::string> &args,
                                   const std::function<std::string(int)> &atQuestion)
{
   std::vector<std::string> all = {"-c", config_};
   all.insert(all.end(), args.begin(), args.end());
   return RunToolAnswering(all, atQuestion);
}

void EngineTest::SetUp()
{
   std::string why;
   if (!EngineAvailable(&why))
      GTEST_SKIP() << why;
   db_ = new TestDatabase();
   SetUpDatabase();
}

void EngineTest::TearDown()
{
   delete db_;
   db_ = nullptr;
}
