// tersolv_uno_probe PIPE FILE [ROW COLUMN]: connects to the office listening
// on the named pipe PIPE, opens FILE hidden and read-only, and prints the type
// and value of one cell of its first sheet (default A1). Checks that the UNO
// tool chain (generated headers, runtime libraries, bootstrap) works.
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridge.hpp>
#include <com/sun/star/connection/Connector.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/table/CellContentType.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <cstdio>
#include <cstdlib>
#include <osl/file.hxx>
#include <rtl/bootstrap.hxx>
#include <string>

using namespace com::sun::star;
using rtl::OUString;

namespace {
std::string Utf8(const OUString& s) { return rtl::OUStringToOString(s, RTL_TEXTENCODING_UTF8).getStr(); }
}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s PIPE FILE [ROW COLUMN]\n", argv[0]);
    return 2;
  }
  const int row = argc > 4 ? std::atoi(argv[3]) : 1;
  const int column = argc > 4 ? std::atoi(argv[4]) : 1;
  try {
    rtl::Bootstrap::set(OUString("URE_BOOTSTRAP"),
                        OUString("vnd.sun.star.pathname:" TERSOLV_LO_PROGRAM_DIR "/fundamentalrc"));
    uno::Reference<uno::XComponentContext> local = cppu::defaultBootstrap_InitialComponentContext();
    uno::Reference<connection::XConnector> connector = connection::Connector::create(local);
    const OUString pipe = OUString::createFromAscii(argv[1]);
    uno::Reference<connection::XConnection> conn = connector->connect("pipe,name=" + pipe);
    uno::Reference<bridge::XBridgeFactory2> factory = bridge::BridgeFactory::create(local);
    uno::Reference<bridge::XBridge> bridge = factory->createBridge("", "urp", conn, nullptr);
    uno::Reference<uno::XComponentContext> remote(bridge->getInstance("StarOffice.ComponentContext"),
                                                  uno::UNO_QUERY_THROW);
    uno::Reference<frame::XDesktop2> desktop = frame::Desktop::create(remote);

    OUString url;
    osl::File::getFileURLFromSystemPath(OUString::createFromAscii(argv[2]), url);
    uno::Sequence<beans::PropertyValue> args(2);
    args.getArray()[0].Name = "Hidden";
    args.getArray()[0].Value <<= true;
    args.getArray()[1].Name = "ReadOnly";
    args.getArray()[1].Value <<= true;
    uno::Reference<lang::XComponent> doc = desktop->loadComponentFromURL(url, "_blank", 0, args);
    uno::Reference<sheet::XSpreadsheetDocument> book(doc, uno::UNO_QUERY_THROW);
    uno::Reference<container::XIndexAccess> sheets(book->getSheets(), uno::UNO_QUERY_THROW);
    uno::Reference<sheet::XSpreadsheet> sheet(sheets->getByIndex(0), uno::UNO_QUERY_THROW);
    uno::Reference<table::XCell> cell = sheet->getCellByPosition(column - 1, row - 1);
    const table::CellContentType type = cell->getType();
    if (type == table::CellContentType_VALUE || type == table::CellContentType_FORMULA)
      std::printf("value %.17g\n", cell->getValue());
    else if (type == table::CellContentType_TEXT)
      std::printf("text \"%s\"\n", Utf8(uno::Reference<text::XText>(cell, uno::UNO_QUERY_THROW)->getString()).c_str());
    else
      std::printf("empty\n");
    uno::Reference<util::XCloseable>(doc, uno::UNO_QUERY_THROW)->close(true);
    uno::Reference<lang::XComponent>(bridge, uno::UNO_QUERY_THROW)->dispose();
    return 0;
  } catch (const uno::Exception& e) {
    std::fprintf(stderr, "UNO error: %s\n", Utf8(e.Message).c_str());
    return 1;
  }
}
