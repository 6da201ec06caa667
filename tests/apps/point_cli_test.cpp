// `tersolv point` as a user runs it: every reference point alone through the
// built executable, plain and JSON output, rejected points, run-time errors,
// bad command lines, --help and --version with their exit codes.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "calc/reference_points.h"

namespace tersolv::reference {
namespace {

struct Result {
  int ExitCode = -1;
  std::string Out, Err;
};

// Runs tersolv with `args` (already quoted for the shell).
Result Tersolv(const std::string& args) {
  const std::string base = ::testing::TempDir() + "tersolv-cli-" + std::to_string(::getpid());
  const int status = std::system(("'" TERSOLV_EXE "' " + args + " >'" + base + ".out' 2>'" + base + ".err'").c_str());
  Result r;
  r.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  for (auto [stream, text] : {std::pair{".out", &r.Out}, {".err", &r.Err}}) {
    std::stringstream content;
    content << std::ifstream(base + stream).rdbuf();
    *text = content.str();
    std::remove((base + stream).c_str());
  }
  return r;
}

// Runs `point <args> --json` and checks T, P and the results against the reference values.
void ExpectPoint(const std::string& args, double T, double P, const std::vector<const char*>& keys,
                 const double* values) {
  SCOPED_TRACE(args);
  const Result r = Tersolv("point " + args + " --json");
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  const auto json = nlohmann::json::parse(r.Out);
  EXPECT_TRUE(Relative(json["T"].get<double>(), T));  // get<double> throws on a string or null
  EXPECT_TRUE(Relative(json["P"].get<double>(), P));
  for (std::size_t k = 0; k < keys.size(); ++k) {
    if (values[k] == kNotFound) {
      EXPECT_EQ(json[keys[k]], "not found") << keys[k];
    } else {
      EXPECT_TRUE(Relative(json[keys[k]].get<double>(), values[k])) << keys[k];
    }
  }
}

TEST(PointCommand, EveryReferencePointAlone) {
  for (const auto& p : kComponents) {
    ExpectPoint(Text(p.T) + " " + p.P, p.T, p.NormalisedP,
                {"water_density", "water_molar_volume", "water_fugacity", "h2s_density", "h2s_molar_volume",
                 "h2s_fugacity", "h2s_solubility", "halite_solubility"},
                p.Values);
  }
  for (const auto& p : kTernary) {
    const double values[] = {p.Values[0], p.Values[1], p.Values[2], p.Values[3], p.Values[4],
                             p.Values[5], p.Values[6], p.Values[7], static_cast<double>(p.Mark)};
    ExpectPoint(Text(p.T) + " " + Text(p.P) + " " + Text(p.MH2S) + " " + Text(p.MNaCl), p.T, p.P,
                {"osmotic_coefficient", "water_activity_coefficient", "salting_out_coefficient", "h2s_solubility",
                 "h2s_activity_coefficient", "nacl_activity_coefficient", "density", "molar_volume", "mark"},
                values);
  }
}

TEST(PointCommand, PlainOutputHelpAndVersion) {
  const std::pair<const char*, std::vector<const char*>> rows[] = {  // arguments, texts in the output
      {"point 25 10 0.05 7",
       {"Temperature: 25 C\n", "Pressure: 10 MPa\n", "Density of the solution: ", " g/cm3\n", "Mark: 255 (red"}},
      {"point 300 50", {"Solubility of halite in water: not found\n"}},
      {"--help", {"Exit codes"}},
      {"point --help", {"--extended-range"}},
      {"--version", {"tersolv "}},
  };
  for (const auto& [args, texts] : rows) {
    const Result r = Tersolv(args);
    EXPECT_EQ(r.ExitCode, 0) << args << ": " << r.Err;
    for (const char* text : texts) EXPECT_NE(r.Out.find(text), std::string::npos) << text << " in\n" << r.Out;
  }
}

TEST(PointCommand, AnUndefinedSaltingOutCoefficientIsNull) {
  const auto json = nlohmann::json::parse(Tersolv("point 150 sat 0.1 1 --json").Out);
  EXPECT_TRUE(json["salting_out_coefficient"].is_null());
  EXPECT_EQ(json["mark"], 16711680);
  EXPECT_FALSE(nlohmann::json::parse(Tersolv("point 25 10 --json").Out).contains("mark"));
}

TEST(PointCommand, ExitCodesAndMessages) {
  const std::tuple<const char*, int, const char*> rows[] = {  // arguments, exit code, in the error output
      {"point 350 10", 3, "temperature \"350\": T/P/D value(s) out of range"},
      {"point 25 nan", 3, "pressure \"nan\": Format error or incorrect keyword"},
      {"point 380 sat --extended-range", 3, "pressure \"sat\": Saturation vapor pressure does not exist"},
      {"point 25 10 -0.1 1", 3, "m(H2S) \"-0.1\": Illegal value of m(H2S)"},
      {"point 25 10 0.1 -1", 3, "m(NaCl) \"-1\": Illegal value of m(NaCl)"},
      {"point 25 1e400", 3, "pressure \"1e400\": T/P/D value(s) out of range"},
      {"point 25 1e-320", 3, "pressure \"1e-320\": T/P/D value(s) out of range"},
      {"point 1e-400 10", 3, "temperature \"1e-400\": T/P/D value(s) out of range"},
      {"point 400 50 --extended-range", 4, "run-time error"},  // no H2S solubility above the critical point
      {"point 25 10 1", 2, ""},
      {"point", 2, ""},
      {"nonsense", 2, ""},
      {"point 25 10 --bogus", 2, ""},
  };
  for (const auto& [args, exitCode, err] : rows) {
    SCOPED_TRACE(args);
    const Result r = Tersolv(args);
    EXPECT_EQ(r.ExitCode, exitCode);
    EXPECT_FALSE(r.Err.empty());
    EXPECT_NE(r.Err.find(err), std::string::npos) << r.Err;
    EXPECT_TRUE(exitCode == 2 || r.Out.empty()) << r.Out;
  }
  EXPECT_EQ(Tersolv("point 350 50 --extended-range --json").ExitCode, 0);
}

}  // namespace
}  // namespace tersolv::reference
