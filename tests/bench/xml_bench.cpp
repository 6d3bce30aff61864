// Times C_XML::load on generated package definitions of 1 MB and 10 MB
// against a bare expat parse of the same files (same 4096-byte read loop, no
// handlers), so the cost of building the tree is visible and its growth with
// the size can be checked. Beside each benign file it loads a hostile one of
// the same size: the top element's text is half the file of blanks and one
// other byte, followed by many children, each of which trims that text
// again; its load time per MB is set against the benign file's. Not a test:
// it prints figures and fails only when a document does not load.
//
//   xml_bench [MB ...] [--reps N]
//
// The files are written into the current folder and removed afterwards
// (XML_BENCH_KEEP=1 keeps them).
#include "c_xml.h"
#include "expat_parser.h"

#include <expat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A package definition whose bulk is the supported-device list, the part
// that grows in real packages.
std::string MakePackage(size_t bytes) {
    static const char* const kLangs[] = {"en", "fr", "it", "de", "es", "ja"};
    std::string doc =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
        "<tzr_package>\r\n"
        "  <filename>kx_bench.xml</filename>\r\n"
        "  <name>\r\n";
    for (const char* lang : kLangs)
        doc += std::string("    <name_xlate lang=\"") + lang + "\">NVMe boot controller firmware</name_xlate>\r\n";
    doc += "  </name>\r\n  <description>\r\n";
    for (const char* lang : kLangs)
        doc += std::string("    <description_xlate lang=\"") + lang +
               "\"><![CDATA[Updates the firmware of NVMe boot controllers.]]></description_xlate>\r\n";
    doc +=
        "  </description>\r\n"
        "  <version value=\"1.0.15\"/>\r\n"
        "  <alt_name>\r\n    <alt_name_xlate>Boot controller firmware</alt_name_xlate>\r\n  </alt_name>\r\n"
        "  <prerequisites>\r\n"
        "    <required_diskspace size_kb=\"1024\"/>\r\n"
        "    <supported_devices>\r\n";
    const std::string tail =
        "    </supported_devices>\r\n"
        "  </prerequisites>\r\n"
        "</tzr_package>\r\n";
    char id[8];
    for (unsigned n = 0; doc.size() + tail.size() < bytes; ++n) {
        std::snprintf(id, sizeof id, "%04X", n & 0xFFFF);
        doc += "      <supported_devices_and>\r\n"
               "        <supported_device type=\"pci\">\r\n"
               "          <supported_device_data name=\"ven\">1B4B</supported_device_data>\r\n"
               "          <supported_device_data name=\"dev\">2241</supported_device_data>\r\n"
               "          <supported_device_data name=\"subven\">1590</supported_device_data>\r\n"
               "          <supported_device_data name=\"subdev\">";
        doc += id;
        doc += "</supported_device_data>\r\n"
               "        </supported_device>\r\n"
               "      </supported_devices_and>\r\n";
    }
    return doc + tail;
}

// The hostile shape: the top element's text is a run of blanks, half the
// file, ended by one other byte, and the rest of the file is its children.
std::string MakeBlankRun(size_t bytes) {
    std::string doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<tzr_package>";
    doc.append(bytes / 2, ' ');
    doc += "x<version value=\"1.0.15\"/>";
    const std::string tail = "</tzr_package>\r\n";
    char id[8];
    for (unsigned n = 0; doc.size() + tail.size() < bytes; ++n) {
        std::snprintf(id, sizeof id, "%04X", n & 0xFFFF);
        doc += "<supported_device_data name=\"subdev\">";
        doc += id;
        doc += "</supported_device_data>\r\n";
    }
    return doc + tail;
}

bool WriteFile(const std::string& name, const std::string& bytes) {
    UniqueFile f(std::fopen(name.c_str(), "wb"));
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f.get()) == bytes.size();
    return f.reset() && ok;
}

void XMLCALL NoStart(void*, const XML_Char*, const XML_Char**) {}
void XMLCALL NoEnd(void*, const XML_Char*) {}
void XMLCALL NoText(void*, const XML_Char*, int) {}
void XMLCALL NoCdata(void*) {}

// The same loop as C_XML::load, with a parser that calls nothing back, or
// with callbacks that do nothing: the least any tree builder pays.
bool BareExpat(const std::string& name, bool emptyHandlers = false) {
    UniqueFile f(std::fopen(name.c_str(), "rb"));
    if (!f) return false;
    UniqueXmlParser parser(XML_ParserCreate(nullptr));
    bool ok = parser.valid();
    if (parser && emptyHandlers) {
        XML_SetElementHandler(parser.get(), NoStart, NoEnd);
        XML_SetCharacterDataHandler(parser.get(), NoText);
        XML_SetCdataSectionHandler(parser.get(), NoCdata, NoCdata);
    }
    while (parser) {
        void* buffer = XML_GetBuffer(parser.get(), 4096);
        if (!buffer) { ok = false; break; }
        const size_t n = std::fread(buffer, 1, 4096, f.get());
        if (XML_ParseBuffer(parser.get(), static_cast<int>(n), n == 0) != XML_STATUS_OK) ok = false;
        if (n == 0) break;
    }
    return ok;
}

// What this machine charges for memory a process touches for the first time;
// a tree costs a multiple of the file in such memory, a bare parse almost
// none, so on a machine where it is dear the ratio says more about the
// machine than about the code.
double FreshMemoryMsPerMb() {
    double best = 1e300;
    // Growing sizes: a C runtime may keep a freed block for the next request
    // of the same size, which would then be memory touched before.
    for (size_t mb : {16, 24, 32}) {
        const size_t bytes = mb << 20;
        const auto start = Clock::now();
        void* block = std::malloc(bytes);
        if (block == nullptr) return 0;
        // Through a volatile pointer, or the compiler drops the stores.
        volatile char* touch = static_cast<volatile char*>(block);
        for (size_t at = 0; at < bytes; at += 4096) touch[at] = static_cast<char>(at);
        const std::chrono::duration<double, std::milli> took = Clock::now() - start;
        std::free(block);
        best = std::min(best, took.count() / mb);
    }
    return best;
}

bool LoadDocument(const std::string& name) {
    C_XML xml;
    xml.setTrimWhitespace(true);
    if (!xml.load(name)) return false;
    std::string version;
    return xml.selectAttribute("/tzr_package/version", "value", version) && version == "1.0.15";
    // The tree is torn down here, inside the timed part, as the engine's use does.
}

template <typename F>
void Time(double& best, F run, bool& ok) {
    const auto start = Clock::now();
    ok = run() && ok;
    const std::chrono::duration<double, std::milli> took = Clock::now() - start;
    best = std::min(best, took.count());
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<double> sizes;
    int reps = 7;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--reps") == 0 && i + 1 < argc) {
            reps = std::max(1, std::atoi(argv[++i]));
        } else if (std::atof(argv[i]) > 0) {
            sizes.push_back(std::atof(argv[i]));
        } else {
            std::fprintf(stderr, "usage: xml_bench [MB ...] [--reps N]\n");
            return 2;
        }
    }
    if (sizes.empty()) sizes = {1, 10};

    std::printf("C_XML::load (trim on, one path query, teardown) against bare expat; best of %d runs\n", reps);
    std::printf("%-10s %8s %10s %10s %8s %12s %10s %11s\n", "shape", "size MB", "load ms", "expat ms", "ratio",
                "expat+cb ms", "load MB/s", "load ms/MB");
    bool allOk = true;
    std::vector<double> msPerMb;
    double worstRatio = 0;
    double worstHostile = 0;
    for (double mb : sizes) {
        double benignMsPerMb = 0;
        for (const bool hostile : {false, true}) {
            const std::string name = std::string(hostile ? "xml_bench_run_" : "xml_bench_") +
                                     std::to_string(static_cast<long>(mb * 1000)) + ".xml";
            const size_t bytes = static_cast<size_t>(mb * 1024 * 1024);
            const std::string doc = hostile ? MakeBlankRun(bytes) : MakePackage(bytes);
            if (!WriteFile(name, doc)) {
                std::fprintf(stderr, "cannot write %s\n", name.c_str());
                return 1;
            }
            const double realMb = doc.size() / (1024.0 * 1024.0);
            bool ok = true;
            BareExpat(name);  // warm the file cache
            // Interleaved, so that a busy machine slows all three alike; the
            // best run of each counts.
            double bare = 1e300, load = 1e300, callbacks = 1e300;
            for (int i = 0; i < reps; ++i) {
                Time(bare, [&] { return BareExpat(name); }, ok);
                Time(load, [&] { return LoadDocument(name); }, ok);
                Time(callbacks, [&] { return BareExpat(name, true); }, ok);
            }
            if (!std::getenv("XML_BENCH_KEEP")) std::remove(name.c_str());
            if (!ok) {
                std::fprintf(stderr, "%s did not load\n", name.c_str());
                allOk = false;
            }
            const double perMb = load / realMb;
            if (hostile) {
                worstHostile = std::max(worstHostile, perMb / benignMsPerMb);
            } else {
                benignMsPerMb = perMb;
                worstRatio = std::max(worstRatio, load / bare);
                msPerMb.push_back(perMb);
            }
            std::printf("%-10s %8.2f %10.2f %10.2f %8.2f %12.2f %10.1f %11.2f\n", hostile ? "blank run" : "benign",
                        realMb, load, bare, load / bare, callbacks, realMb / (load / 1000.0), perMb);
        }
    }
    std::printf("goal load <= 2x bare expat: %s (worst %.2fx)\n", worstRatio <= 2.0 ? "met" : "NOT met", worstRatio);
    std::printf("goal blank run <= 1.5x benign ms per MB: %s (worst %.2fx)\n", worstHostile <= 1.5 ? "met" : "NOT met",
                worstHostile);
    if (msPerMb.size() >= 2) {
        std::printf("growth: ms per MB at the largest size / at the smallest = %.2f (1.00 is linear)\n",
                    msPerMb.back() / msPerMb.front());
    }
    std::printf("fresh memory on this machine: %.2f ms per MB touched\n", FreshMemoryMsPerMb());
    return allOk ? 0 : 1;
}
