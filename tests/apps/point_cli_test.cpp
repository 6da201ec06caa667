// `tersolv point` as a user runs it: every reference point alone through the
// built executable, plain and JSON output, rejected points, run-time errors,
// bad command lines, --help and --version with their exit codes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "calc/reference_points.h"

namespace tersolv {
namespace {

struct Result {
  int ExitCode = -1;
  std::string Out, Err;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs tersolv with `args` (already quoted for the shell).
Result Tersolv(const std::string& args) {
  const std::string base = ::testing::TempDir() + "tersolv-cli-" + std::to_string(::getpid());
  const std::string command = std::string("'") + TERSOLV_EXE + "' " + args + " >'" + base + ".out' 2>'" + base + ".err'";
  const int status = std::system(command.c_str());
  Result r;
  r.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.Out = Slurp(base + ".out");
  r.Err = Slurp(base + ".err");
  std::remove((base + ".out").c_str());
  std::remove((base + ".err").c_str());
  return r;
}

std::string Text(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.10g", v);
  return buffer;
}

::testing::AssertionResult Near(const nlohmann::json& value, double expected) {
  if (!value.is_number()) return ::testing::AssertionFailure() << "not a number: " << value;
  const double actual = value.get<double>();
  if (std::abs(actual - expected) <= 1e-7 * std::abs(expected)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << actual << " is not " << expected;
}

TEST(PointCommand, EveryComponentsReferencePoint) {
  const char* keys[] = {"water_density", "water_molar_volume", "water_fugacity", "h2s_density",
                        "h2s_molar_volume", "h2s_fugacity", "h2s_solubility", "halite_solubility"};
  for (const auto& p : reference::kComponents) {
    SCOPED_TRACE("T = " + Text(p.T) + ", P = " + p.P);
    const Result r = Tersolv("point " + Text(p.T) + " " + p.P + " --json");
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    const auto json = nlohmann::json::parse(r.Out);
    EXPECT_TRUE(Near(json["T"], p.T));
    EXPECT_TRUE(Near(json["P"], p.NormalisedP));
    EXPECT_FALSE(json.contains("mark"));
    for (int k = 0; k < 8; ++k) {
      SCOPED_TRACE(keys[k]);
      if (p.Values[k] == reference::kNotFound) {
        EXPECT_EQ(json[keys[k]], "not found");
      } else {
        EXPECT_TRUE(Near(json[keys[k]], p.Values[k]));
      }
    }
  }
}

TEST(PointCommand, EveryTernaryReferencePoint) {
  const char* keys[] = {"osmotic_coefficient", "water_activity_coefficient", "salting_out_coefficient",
                        "h2s_solubility", "h2s_activity_coefficient", "nacl_activity_coefficient",
                        "density", "molar_volume"};
  for (const auto& group : reference::kTernary) {
    for (const auto& p : group.Points) {
      SCOPED_TRACE(std::string(group.Name) + ", m(NaCl) = " + Text(p.MNaCl));
      const Result r =
          Tersolv("point " + Text(p.T) + " " + Text(p.P) + " " + Text(p.MH2S) + " " + Text(p.MNaCl) + " --json");
      ASSERT_EQ(r.ExitCode, 0) << r.Err;
      const auto json = nlohmann::json::parse(r.Out);
      for (int k = 0; k < 8; ++k) EXPECT_TRUE(Near(json[keys[k]], p.Values[k])) << keys[k];
      EXPECT_EQ(json["mark"], p.Mark);
      EXPECT_TRUE(Near(json["T"], p.T));
      EXPECT_TRUE(Near(json["P"], p.P));
    }
  }
}

TEST(PointCommand, PlainOutputOneLinePerResultWithItsUnit) {
  const Result r = Tersolv("point 25 10 0.05 7");
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_NE(r.Out.find("Temperature: 25 C\n"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("Pressure: 10 MPa\n"), std::string::npos);
  EXPECT_NE(r.Out.find("Density of the solution: "), std::string::npos);
  EXPECT_NE(r.Out.find(" g/cm3\n"), std::string::npos);
  EXPECT_NE(r.Out.find("Mark: 255 (red"), std::string::npos);
  const Result c = Tersolv("point 300 50");
  ASSERT_EQ(c.ExitCode, 0) << c.Err;
  EXPECT_NE(c.Out.find("Solubility of halite in water: not found\n"), std::string::npos) << c.Out;
}

TEST(PointCommand, SaturationKeywordsAndAnUndefinedSaltingOutCoefficient) {
  const Result r = Tersolv("point 150 sat 0.1 1 --json");
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  const auto json = nlohmann::json::parse(r.Out);
  EXPECT_TRUE(json["salting_out_coefficient"].is_null());
  EXPECT_EQ(json["h2s_solubility"], 0.0);
  EXPECT_EQ(json["mark"], 16711680);
  EXPECT_TRUE(Near(json["P"], 0.476164538));
  const Result zero = Tersolv("point 25 0 --json");
  EXPECT_EQ(nlohmann::json::parse(zero.Out)["P"], 0.1);
}

TEST(PointCommand, RejectedPointsPrintTheReadersMessage) {
  const struct {
    const char* args;
    const char* message;
  } rows[] = {
      {"point 350 10", "Row=4, Col=1: T/P/D value(s) out of range"},
      {"point 25 -1", "Row=4, Col=2: T/P/D value(s) out of range"},
      {"point 25 nan", "Row=4, Col=2: Format error or incorrect keyword"},
      {"point 25 1,5", "Row=4, Col=2: Format error or incorrect keyword"},
      {"point 380 sat --extended-range", "Row=4, Col=2: Saturation vapor pressure does not exist"},
      {"point 25 10 -0.1 1", "Row=4, Col=3: Illegal value of m(H2S)"},
      {"point 25 10 0.1 -1", "Row=4, Col=4: Illegal value of m(NaCl)"},
      {"point 25 1e400", "Row=4, Col=2: Unexpected error"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args);
    const Result r = Tersolv(row.args);
    EXPECT_EQ(r.ExitCode, 3);
    EXPECT_NE(r.Err.find(row.message), std::string::npos) << r.Err;
    EXPECT_TRUE(r.Out.empty());
  }
  EXPECT_EQ(Tersolv("point 350 50 --extended-range --json").ExitCode, 0);
}

TEST(PointCommand, RunTimeErrorsAreReportedClearly) {
  // Above the critical temperature of water H2S has no solubility here.
  const Result r = Tersolv("point 400 50 --extended-range");
  EXPECT_EQ(r.ExitCode, 4);
  EXPECT_NE(r.Err.find("run-time error"), std::string::npos) << r.Err;
  EXPECT_TRUE(r.Out.empty());
}

TEST(PointCommand, BadCommandLines) {
  for (const char* args : {"point 25 10 1", "point 25", "point", "", "nonsense", "point 25 10 1 2 3",
                           "point 25 10 --bogus"}) {
    SCOPED_TRACE(args);
    const Result r = Tersolv(args);
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_FALSE(r.Err.empty());
  }
}

TEST(PointCommand, HelpAndVersion) {
  const Result help = Tersolv("--help");
  EXPECT_EQ(help.ExitCode, 0);
  EXPECT_NE(help.Out.find("point"), std::string::npos);
  EXPECT_NE(help.Out.find("Exit codes"), std::string::npos);
  const Result pointHelp = Tersolv("point --help");
  EXPECT_EQ(pointHelp.ExitCode, 0);
  EXPECT_NE(pointHelp.Out.find("--extended-range"), std::string::npos);
  EXPECT_NE(pointHelp.Out.find("--json"), std::string::npos);
  const Result version = Tersolv("--version");
  EXPECT_EQ(version.ExitCode, 0);
  EXPECT_EQ(version.Out.rfind("tersolv ", 0), 0u) << version.Out;
}

}  // namespace
}  // namespace tersolv
