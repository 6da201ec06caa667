// _tersolv: the compiled half of the Python package. It evaluates arrays of
// independent state points, each checked as the worksheet reader checks a
// data row and computed as the driver computes it, on the driver's threads
// with the GIL released; and it runs `tersolv calc` on a workbook file (the
// same job as the command line's). The
// package's Python half (tersolv/__init__.py) broadcasts the arguments,
// shapes the results and raises the exceptions.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "calc/point.h"
#include "input/point_checks.h"
#include "input/reader.h"
#include "core/row_blocks.h"
#include "job/calc_file.h"
#include "layout/layout.h"
#include "link/frontend.h"

namespace py = pybind11;

namespace tersolv::python {
namespace {

constexpr std::int16_t kRunTimeError = 8;       // the status of a point whose calculation failed
constexpr std::size_t kBlock = 64;              // points a thread takes at a time
constexpr auto kSignalInterval = std::chrono::milliseconds(100);  // between looks for Ctrl-C
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

using Doubles = py::array_t<double, py::array::c_style | py::array::forcecast>;
using Flags = py::array_t<bool, py::array::c_style | py::array::forcecast>;

// The inputs of n points (the molalities only for the ternary system).
struct Inputs {
  int Kind = 1;  // 1 "Components", 2 "Ternary system"
  const double* T = nullptr;  // C
  const double* P = nullptr;  // MPa; NaN: not a number
  const bool* Saturation = nullptr;  // P is "sat"
  const double* Molality[2] = {nullptr, nullptr};  // mol/kg
  bool ExtendedRange = false;
};

// The result arrays, written by the threads (point i by one thread only).
struct Outputs {
  std::vector<double*> Columns;  // the layout's result columns, in its order
  double* T = nullptr;
  double* P = nullptr;
  std::int32_t* Mark = nullptr;
  std::int32_t* Status = nullptr;
};

// A message of a point that is not fine (most points have none).
struct Message {
  std::size_t Point;
  std::string Text;
};

// The models of one thread: a water model for the checks (as the reader has
// its own) and a calculator; its messages.
struct Worker {
  explicit Worker(bool extendedRange) : Calculator(input::StandardHaliteData(), true, extendedRange) {}
  // Its water model checks the points too: the calculation then finds the
  // saturation state, the temperature factors and the residual at the
  // liquid's density already evaluated.
  calc::PointCalculator Calculator;
  std::vector<Message> Messages;
};

// Checks point i as the reader checks a row; its status, or 0 with the
// condition of the point.
struct Checked {
  input::CheckStatus Check;
  std::string Error;  // the run-time error of a check (status 1)
  double T = 0, P = 0;
  input::LiquidDensity Density;
};

Checked Rejected(std::int16_t status, int column) {
  Checked c;
  c.Check = {status, column};
  return c;
}

Checked CheckPoint(Worker& worker, const Inputs& in, std::size_t i, Outputs& out) {
  Checked c;
  const double celsius = in.T[i];
  if (!std::isfinite(celsius)) return Rejected(2, 1);  // no number a cell could hold
  if (!input::InNumberRange(celsius)) return Rejected(4, 1);
  out.T[i] = celsius;
  if ((c.Check = input::CheckTemperature(celsius, in.ExtendedRange))) return c;
  c.T = celsius + kZeroCelsius;
  input::PressureInput pressure{input::PressureInput::Kind::Saturation, 0};
  if (!in.Saturation[i]) {
    if (!std::isfinite(in.P[i])) return Rejected(2, 2);
    if (!input::InNumberRange(in.P[i])) return Rejected(4, 2);
    pressure = {input::PressureInput::Kind::MPa, in.P[i]};
  }
  try {
    const input::PressureCheck checked = input::CheckPressure(worker.Calculator.Water(), c.T, pressure, in.ExtendedRange);
    if ((c.Check = checked.Check)) return c;
    c.P = checked.P;
    out.P[i] = checked.Saturation ? input::SheetPressure(c.P) : pressure.Value;
    c.Density = input::EvaluateDensity(worker.Calculator.Water(), c.T, c.P);
  } catch (const std::exception& e) {
    c.Check = {1, 2};
    c.Error = e.what();
    return c;
  }
  if ((c.Check = input::CheckDensity(c.Density.Rho))) return c;
  for (int k = 0; k < 2 && in.Kind == 2; ++k) {
    const double m = in.Molality[k][i];
    if (!std::isfinite(m)) return Rejected(2, 3 + k);
    if ((c.Check = input::CheckMolality(k, m))) return c;
  }
  return c;
}

// Evaluates point i into the outputs. Every output of the point is written
// here (NaN for what is not computed), so that the arrays are first touched
// by the threads that compute, not beforehand.
void EvaluatePoint(Worker& worker, const Inputs& in, std::size_t i, Outputs& out) {
  for (double* column : out.Columns) column[i] = kNaN;
  out.T[i] = out.P[i] = kNaN;
  out.Mark[i] = out.Status[i] = 0;
  const Checked c = CheckPoint(worker, in, i, out);
  if (c.Check) {
    out.Status[i] = c.Check.Status;
    std::string text = input::StatusText(c.Check.Status);
    if (!c.Error.empty()) text += ": " + c.Error;
    worker.Messages.push_back({i, std::move(text)});
    return;
  }
  const double mH2S = in.Kind == 2 ? in.Molality[0][i] : 0.0;
  const double mNaCl = in.Kind == 2 ? in.Molality[1][i] : 0.0;
  const calc::PointOutcome outcome = worker.Calculator.Compute(in.Kind, c.T, c.P, c.Density.Rho, mH2S, mNaCl);
  for (std::size_t k = 0; k < out.Columns.size(); ++k) {
    const calc::ResultCell& cell = outcome.Cells[k];
    if (cell.What == calc::ResultCell::Kind::Number) out.Columns[k][i] = cell.Value;
  }
  out.Mark[i] = static_cast<std::int32_t>(outcome.Mark);
  if (outcome.Fault) {
    out.Status[i] = kRunTimeError;
    try {
      std::rethrow_exception(outcome.Fault);
    } catch (const std::exception& e) {
      worker.Messages.push_back({i, e.what()});
    } catch (...) {
      worker.Messages.push_back({i, "unknown run-time error"});
    }
  }
}

// Runs `compute(thread, i)` over n points on `threads` threads with the GIL
// released. Every ~0.1 s the calling thread (thread 0, which computes blocks
// too) looks for Ctrl-C or another signal whose handler raises: the run
// then stops after the blocks being computed, and that exception is raised.
template <class Compute>
void RunReleased(std::size_t n, unsigned threads, Compute compute) {
  bool interrupted = false;  // set and read by the calling thread only
  {
    py::gil_scoped_release released;
    auto lastLook = std::chrono::steady_clock::now() - kSignalInterval;  // a first look at once
    RunRowBlocks(
        n, kBlock, threads,
        [&](unsigned thread, std::size_t i) {
          if (thread == 0 && i % kBlock == 0 && std::chrono::steady_clock::now() - lastLook >= kSignalInterval) {
            lastLook = std::chrono::steady_clock::now();
            py::gil_scoped_acquire held;
            if ((interrupted = PyErr_CheckSignals() != 0)) return false;
          }
          compute(thread, i);
          return true;
        },
        [&](std::size_t) { return !interrupted; });
  }
  if (interrupted) throw py::error_already_set();
}

py::dict Evaluate(int kind, const Doubles& T, const Doubles& P, const Flags& saturation, const Doubles& mH2S,
                  const Doubles& mNaCl, bool extendedRange, unsigned threads) {
  if (kind != 1 && kind != 2) throw py::value_error("kind must be 1 (components) or 2 (ternary system)");
  const auto n = static_cast<std::size_t>(T.size());
  const bool ternary = kind == 2;
  for (const py::ssize_t size : {P.size(), saturation.size(), ternary ? mH2S.size() : T.size(),
                                 ternary ? mNaCl.size() : T.size()})
    if (static_cast<std::size_t>(size) != n) throw py::value_error("the input arrays differ in size");

  Inputs in{kind, T.data(), P.data(), saturation.data(), {nullptr, nullptr}, extendedRange};
  if (ternary) {
    in.Molality[0] = mH2S.data();
    in.Molality[1] = mNaCl.data();
  }

  const std::span<const layout::Column> results = layout::LayoutOfKind(kind)->Results;
  std::vector<py::array_t<double>> columns;
  Outputs out;
  for (std::size_t k = 0; k < results.size(); ++k) {
    columns.emplace_back(n);
    out.Columns.push_back(columns.back().mutable_data());
  }
  py::array_t<double> outT(n), outP(n);
  py::array_t<std::int32_t> mark(n), status(n);
  out.T = outT.mutable_data();
  out.P = outP.mutable_data();
  out.Mark = mark.mutable_data();
  out.Status = status.mutable_data();

  const unsigned used = BlockThreads(threads, n, kBlock);
  std::vector<std::unique_ptr<Worker>> workers;
  for (unsigned t = 0; t < used; ++t) workers.push_back(std::make_unique<Worker>(extendedRange));
  RunReleased(n, used, [&](unsigned thread, std::size_t i) { EvaluatePoint(*workers[thread], in, i, out); });

  // The messages: "" for every fine point (one shared string), one string
  // per status text.
  py::array messages(py::dtype("O"), std::vector<py::ssize_t>{static_cast<py::ssize_t>(n)});
  auto** slots = static_cast<PyObject**>(messages.mutable_data());
  const py::str empty("");
  for (std::size_t i = 0; i < n; ++i) slots[i] = empty.inc_ref().ptr();
  for (const auto& worker : workers) {
    for (const Message& m : worker->Messages) {
      Py_DECREF(slots[m.Point]);
      slots[m.Point] = py::str(m.Text).release().ptr();
    }
  }

  py::dict result;
  result["T"] = outT;
  result["P"] = outP;
  for (std::size_t k = 0; k < results.size(); ++k) result[results[k].Key] = columns[k];
  if (ternary) result["mark"] = mark;
  result["status"] = status;
  result["message"] = messages;
  return result;
}

// Thrown by the progress callback on Ctrl-C: not a std::exception, so that
// the job does not take it for a run-time error of a point and save.
struct Interrupted {};

const char* ResultName(job::CalcFileOutcome::Result result) {
  using Result = job::CalcFileOutcome::Result;
  switch (result) {
    case Result::Calculated: return "calculated";
    case Result::NoSuchFile: return "no such file";
    case Result::NoSuchSheet: return "no such sheet";
    case Result::Rejected: return "rejected";
    case Result::Failed: return "failed";
  }
  return "";
}

// `tersolv calc` on a workbook file, its outcome as a dict (the Python half
// raises the exceptions); "open error" when the file could not be opened.
py::dict CalcFile(const std::string& book, const std::string& sheet, const std::string& output, bool extendedRange,
                  unsigned threads) {
  job::CalcFileRequest request{book, sheet, output, extendedRange, threads, link::SystemDecimalSeparator(), {}};
  auto lastLook = std::chrono::steady_clock::now();
  request.Progress = [&lastLook](int, int) {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastLook < kSignalInterval) return;
    lastLook = now;
    py::gil_scoped_acquire held;
    if (PyErr_CheckSignals() != 0) throw Interrupted{};
  };
  link::SilentFrontend frontend;
  job::CalcFileOutcome outcome;
  std::string openError;
  bool interrupted = false;
  {
    py::gil_scoped_release released;
    try {
      outcome = job::CalcFile(request, frontend);
    } catch (const link::LinkError& e) {
      openError = e.Description();
    } catch (const Interrupted&) {
      interrupted = true;
    }
  }
  if (interrupted) throw py::error_already_set();
  py::dict result;
  result["result"] = openError.empty() ? ResultName(outcome.What) : "open error";
  result["message"] = openError.empty() ? outcome.Message : openError;
  result["points"] = outcome.Points;
  result["row"] = outcome.Row;
  result["column"] = outcome.Column;
  result["status"] = outcome.Status;
  result["link_failure"] = outcome.LinkFailure;
  result["sheet_names"] = outcome.SheetNames;
  result["saved_to"] = outcome.SavedTo;
  result["save_error"] = outcome.SaveError;
  return result;
}

// The result columns of a layout as (key, caption, unit) tuples.
py::list ResultColumns(int kind) {
  py::list columns;
  for (const layout::Column& c : layout::LayoutOfKind(kind)->Results) columns.append(py::make_tuple(c.Key, c.Caption, c.Unit));
  return columns;
}

py::dict Marks() {
  py::dict marks;
  for (const layout::Mark& m : layout::kMarks) marks[py::int_(m.Colour)] = m.Meaning;
  return marks;
}

}  // namespace
}  // namespace tersolv::python

PYBIND11_MODULE(_tersolv, m) {
  using namespace tersolv::python;
  m.doc() = "The compiled half of the tersolv package (use the functions of tersolv itself).";
  m.attr("__version__") = TERSOLV_VERSION;
  m.attr("components_columns") = ResultColumns(1);
  m.attr("ternary_columns") = ResultColumns(2);
  m.attr("marks") = Marks();
  m.def("calc_file", &CalcFile, py::arg("book"), py::arg("sheet"), py::arg("output"), py::arg("extended_range"),
        py::arg("threads"), "Runs `tersolv calc` on a workbook file; returns its outcome as a dict.");
  m.def("evaluate", &Evaluate, py::arg("kind"), py::arg("T"), py::arg("P"), py::arg("saturation"),
        py::arg("m_h2s"), py::arg("m_nacl"), py::arg("extended_range"), py::arg("threads"),
        "Evaluates 1-D arrays of points of sheet kind 1 (components) or 2 (ternary system); T in C, P in "
        "MPa (saturation: P is \"sat\"), molalities in mol/kg. Returns a dict of 1-D arrays.");
}
