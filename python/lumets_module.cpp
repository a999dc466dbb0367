// The lumets Python module: flows, controls and frames for pipeline scripts, on
// the session code of the command line. Frames come as NumPy arrays of shape
// (height, width, 4), uint16, in R, G, B, A order: the words `lumets render`
// writes to a 16-bit PNG.
#include <dlfcn.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>

#include "app/cli/commands.h"
#include "app/io/errors.h"
#include "app/io/frame_list.h"
#include "app/io/image_io.h"
#include "app/io/json_text.h"
#include "app/io/motion_file.h"
#include "app/session/flow_loader.h"
#include "app/session/session.h"
#include "host/plugins.h"
#include "host/tags.h"

namespace py = pybind11;
namespace fs = std::filesystem;
using namespace lumets;

namespace {

PyObject* ErrorType = nullptr;  // lumets.Error

// Loads the plug-in from where the build or the install put it beside this
// module, unless LUMETS_PLUGIN_PATH names the folders to use.
void LoadOwnPlugins() {
    if (std::getenv("LUMETS_PLUGIN_PATH")) return;
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&LoadOwnPlugins), &info) || !info.dli_fname) return;
    const fs::path folder = (fs::path(info.dli_fname).parent_path() / LUMETS_PY_PLUGIN_RELDIR).lexically_normal();
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        if (entry.path().extension() == ".so") plugins::LoadModule(entry.path().string(), nullptr);
}

// The tool's controls by flow key, from one tool made for the purpose (made
// once, with the GIL held).
const ControlCatalog& Catalog() {
    static Operator* op = nullptr;
    static ControlCatalog catalog;
    if (!op) {
        Registry& reg = ParticleClass();
        TagList tags{{Tags::RandomSeed, int32_t(1)}};
        Operator* made = reg.Create(nullptr, &tags);
        if (!made) throw UserError("the particle plug-in made no tool");
        catalog = ControlCatalog(*made, ControlNames(reg));
        op = made;
    }
    return catalog;
}

// Python values to JSON through the json module (NumPy scalars and arrays are
// taken as the numbers and lists they hold). A value JSON cannot hold is a ValueError.
Json ToJson(py::handle value, const std::string& what) {
    const py::module_ json = py::module_::import("json");
    const py::cpp_function plain([](py::object o) -> py::object {
        if (py::hasattr(o, "tolist")) return o.attr("tolist")();
        throw py::type_error("a value of type " + std::string(py::str(o.get_type().attr("__name__"))) +
                             " cannot be written in a flow");
    });
    std::string text;
    try {
        text = py::str(json.attr("dumps")(value, py::arg("default") = plain, py::arg("allow_nan") = false));
    } catch (py::error_already_set& e) {
        if (e.matches(PyExc_ValueError) || e.matches(PyExc_TypeError))
            throw py::value_error(what + ": " + std::string(py::str(e.value())));
        throw;
    }
    try {
        return ParseJsonText(text, what);
    } catch (const UserError& e) {
        throw py::value_error(e.what());
    }
}

py::object FromJson(const Json& value) { return py::module_::import("json").attr("loads")(value.dump()); }

// A picture from an array of shape (height, width, 4) (R, G, B, A) of uint16,
// or (height, width, 3) (opaque); other integer or float arrays are refused.
std::shared_ptr<const Image> PictureOf(const py::array& array, const std::string& role) {
    if (array.ndim() != 3 || (array.shape(2) != 4 && array.shape(2) != 3) || array.shape(0) < 1 ||
        array.shape(1) < 1 || array.shape(0) > 65535 || array.shape(1) > 65535)
        throw py::value_error("the " + role + " array must have shape (height, width, 4) or (height, width, 3)");
    if (!array.dtype().is(py::dtype::of<uint16_t>()))
        throw py::value_error("the " + role + " array must hold uint16 values");
    const auto words = py::array_t<uint16_t, py::array::c_style | py::array::forcecast>::ensure(array);
    const auto h = int32_t(array.shape(0)), w = int32_t(array.shape(1)), n = int32_t(array.shape(2));
    Image* picture = new Image(w, h);
    const uint16_t* s = words.data();
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x, s += n) SetPixelAt(*picture, x, y, Rgba16{s[0], s[1], s[2], n == 4 ? s[3] : uint16_t(65535)});
    return std::shared_ptr<const Image>(picture, [](const Image* p) { const_cast<Image*>(p)->Recycle(); });
}

// A frame's words as the PNG holds them: rows from the top, R, G, B, A.
struct Frame {
    int32_t Width = 0, Height = 0;
    std::vector<uint16_t> Words;
};
Frame FrameOf(const Image& image) {
    Frame f{image.Width, image.Height, std::vector<uint16_t>(size_t(image.Width) * size_t(image.Height) * 4)};
    uint16_t* d = f.Words.data();
    for (int32_t y = 0; y < image.Height; ++y)
        for (int32_t x = 0; x < image.Width; ++x, d += 4) {
            const Rgba16 p = PixelAt(image, x, y);
            d[0] = p.R;
            d[1] = p.G;
            d[2] = p.B;
            d[3] = p.A;
        }
    return f;
}
py::array ArrayOf(Frame&& f) {
    auto* words = new std::vector<uint16_t>(std::move(f.Words));
    py::capsule owner(words, [](void* p) { delete static_cast<std::vector<uint16_t>*>(p); });
    return py::array_t<uint16_t>({py::ssize_t(f.Height), py::ssize_t(f.Width), py::ssize_t(4)}, words->data(), owner);
}

// A frame number: a Python int or anything with __index__ (a NumPy integer).
int64_t FrameNumber(py::handle f) {
    PyObject* index = PyNumber_Index(f.ptr());
    if (!index) {
        PyErr_Clear();
        throw py::value_error("frames must be whole numbers");
    }
    return py::reinterpret_steal<py::int_>(index).cast<int64_t>();
}

// Frames given as a range, a list of frame numbers or frame-list text.
std::string FramesText(py::handle frames) {
    if (frames.is_none()) return {};
    if (py::isinstance<py::str>(frames)) {
        const std::string text = frames.cast<std::string>();
        if (text.empty()) throw py::value_error("no frames given");
        return text;
    }
    if (py::isinstance<py::int_>(frames)) return std::to_string(frames.cast<int64_t>());
    std::string text;
    for (py::handle f : frames) {
        text += (text.empty() ? "" : ",") + std::to_string(FrameNumber(f));
    }
    if (text.empty()) throw py::value_error("no frames given");
    // The list's own rules (size, order) come from the frame-list parser.
    try {
        FrameList::Parse(text);
    } catch (const UserError& e) {
        throw py::value_error(e.what());
    }
    return text;
}

// A recording's frames: "A-B" text, or a range or list of consecutive frames.
std::string RangeText(py::handle frames) {
    if (frames.is_none() || py::isinstance<py::str>(frames)) return frames.is_none() ? "" : frames.cast<std::string>();
    std::vector<int64_t> list;
    for (py::handle f : frames) list.push_back(FrameNumber(f));
    for (size_t i = 1; i < list.size(); ++i)
        if (list[i] != list[i - 1] + 1) throw py::value_error("a recording's frames must be consecutive (A-B)");
    if (list.empty()) throw py::value_error("no frames given");
    return std::to_string(list.front()) + "-" + std::to_string(list.back());
}

// Work on a thread of its own (rendering, recording) while the calling thread
// waits without the GIL. Frames the work makes are queued (at most two ahead of
// the reader). A signal seen while waiting (Ctrl-C: KeyboardInterrupt) stops the
// work between frames and is raised once it has stopped.
class Job {
public:
    using Work = std::function<void(const FrameSink& sink)>;
    explicit Job(Work work) {
        FrameSink sink;
        sink.StopWhen = [this] { return StopFlag.load(); };
        sink.Write = [this](int64_t, Image* picture) {
            Frame f = FrameOf(*picture);
            std::unique_lock<std::mutex> hold(Lock);
            Changed.wait(hold, [this] { return Queue.size() < 2 || StopFlag.load(); });
            if (StopFlag.load()) return;
            Queue.push_back(std::move(f));
            Changed.notify_all();
        };
        Worker = std::thread([this, work = std::move(work), sink] {
            try {
                work(sink);
            } catch (...) {
                std::lock_guard<std::mutex> hold(Lock);
                Failure = std::current_exception();
            }
            std::lock_guard<std::mutex> hold(Lock);
            Done = true;
            Changed.notify_all();
        });
    }
    ~Job() { Stop(); }
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;

    // The next frame, or nothing when the work is over. Raises the work's error.
    std::optional<Frame> Next() {
        for (;;) {
            {
                py::gil_scoped_release free;
                std::unique_lock<std::mutex> hold(Lock);
                Changed.wait_for(hold, std::chrono::milliseconds(50), [this] { return !Queue.empty() || Done; });
                if (!Queue.empty()) {
                    Frame f = std::move(Queue.front());
                    Queue.pop_front();
                    Changed.notify_all();
                    return f;
                }
                if (Done) break;
            }
            if (PyErr_CheckSignals() != 0) {
                py::error_already_set signal;
                Stop();
                throw signal;
            }
        }
        Join();
        if (Failure) {
            std::exception_ptr failure = Failure;
            Failure = nullptr;
            std::rethrow_exception(failure);
        }
        return std::nullopt;
    }

    // Stops the work between frames and waits for it.
    void Stop() {
        {
            std::lock_guard<std::mutex> hold(Lock);
            StopFlag.store(true);
            Changed.notify_all();
        }
        Join();
    }

private:
    void Join() {
        if (!Worker.joinable()) return;
        if (PyGILState_Check()) {
            py::gil_scoped_release free;
            Worker.join();
        } else {
            Worker.join();
        }
    }

    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<Frame> Queue;
    std::atomic<bool> StopFlag{false};
    bool Done = false;
    std::exception_ptr Failure;
    std::thread Worker;
};

// The iterator flow.frames and flow.play give.
class FrameIterator {
public:
    explicit FrameIterator(Job::Work work) : Running(std::make_unique<Job>(std::move(work))) {}
    py::array Next() {
        if (!Running) throw py::stop_iteration();
        std::optional<Frame> f;
        try {
            f = Running->Next();
        } catch (...) {
            Running.reset();
            throw;
        }
        if (!f) {
            Running.reset();
            throw py::stop_iteration();
        }
        return ArrayOf(std::move(*f));
    }
    void Close() { Running.reset(); }

private:
    std::unique_ptr<Job> Running;
};

// record and play use the tool's message records, which the process shares:
// one at a time.
std::mutex MessagesInUse;

class PyFlow {
public:
    static PyFlow Load(const fs::path& path) {
        const FlowFile file = LoadFlowFile(path.string());
        PyFlow flow(file.Raw, file.Name, file.Folder);
        flow.CheckControls(flow.Controls());
        return flow;
    }
    static PyFlow FromDict(py::handle dict, const std::string& folder) {
        if (!py::isinstance<py::dict>(dict)) throw py::value_error("a flow is a dict");
        PyFlow flow(ToJson(dict, "flow"), "flow", folder);
        try {
            flow.Parsed();
        } catch (const UserError& e) {
            throw py::value_error(e.what());
        }
        flow.CheckControls(flow.Controls());
        return flow;
    }

    py::object ToDict() const { return FromJson(Doc); }

    void Save(const fs::path& path) const {
        if (Background || Particle)
            throw py::value_error("a flow with a picture given as an array cannot be saved (give a file)");
        Json doc = Doc;
        RebaseFlowPaths(doc, Folder, path.parent_path().string());
        WriteFileAtomically(path.string(), doc.dump(2) + "\n");
    }

    py::object Get(const std::string& key) const {
        const ControlInfo& info = Require(key);
        const Json controls = Controls();
        for (auto it = controls.begin(); it != controls.end(); ++it)
            if (Catalog().Find(it.key()) == &info) return FromJson(it.value());
        // Not set by the flow: the tool's own value for a number, else None.
        Parameter* p = info.In->GetValue(double(Parsed().First));
        py::object value = py::none();
        if (p && p->DataType == DT_Number) value = py::float_(static_cast<Number*>(p)->Value);
        if (p) p->Recycle();
        return value;
    }

    void Set(const std::string& key, py::handle value) {
        const ControlInfo& info = Require(key);
        Json controls = Controls();
        // The value replaces the flow's value of the same control, whatever name the flow used.
        for (auto it = controls.begin(); it != controls.end();) {
            if (Catalog().Find(it.key()) == &info)
                it = controls.erase(it);
            else
                ++it;
        }
        controls[key] = ToJson(value, key);
        CheckControls(controls);
        Doc["controls"] = std::move(controls);
    }

    bool Contains(const std::string& key) const {
        const ControlInfo* info = Catalog().Find(key);
        if (!info) return false;
        const Json controls = Controls();
        for (auto it = controls.begin(); it != controls.end(); ++it)
            if (Catalog().Find(it.key()) == info) return true;
        return false;
    }

    // An image input from a file path or an array.
    void SetPicture(bool background, py::handle source) {
        const char* role = background ? "background" : "particle";
        if (py::isinstance<py::str>(source) || py::isinstance(source, py::module_::import("os").attr("PathLike"))) {
            Json doc = Doc;
            doc[role] = Json{{"file", py::str(py::module_::import("os").attr("fspath")(source)).cast<std::string>()}};
            try {
                ParseFlow(doc.dump(), Name, Folder);
            } catch (const UserError& e) {
                throw py::value_error(e.what());
            }
            Doc = std::move(doc);
            (background ? Background : Particle).reset();
            return;
        }
        const py::array array = py::array::ensure(source);
        if (!array) throw py::value_error(std::string("the ") + role + " must be a file path or an array");
        (background ? Background : Particle) = PictureOf(array, role);
    }

    RenderArgs Args(py::handle frames, int threads, bool quick) const {
        if (threads < 0) throw py::value_error("threads must be 0 (all cores) or more");
        // As --threads: the limit is the process's, for this and later renders.
        SetWorkerThreads(threads);
        RenderArgs a;
        a.Frames = FramesText(frames);
        a.Threads = threads;
        a.Quick = quick;
        a.Quiet = true;
        return a;
    }

    FrameIterator Frames(py::handle frames, int threads, bool quick) const {
        const FlowFile file = Parsed();
        const RenderArgs a = Args(frames, threads, quick);
        return FrameIterator([file, a](const FrameSink& sink) { RenderFlow(file, a, sink); });
    }

    py::array Render(int64_t frame, int threads, bool quick) const {
        FrameIterator it = Frames(py::int_(frame), threads, quick);
        py::array picture = it.Next();
        it.Close();
        return picture;
    }

    void Record(const fs::path& path, py::handle frames, int threads) const {
        const FlowFile file = Parsed();
        RenderArgs a = Args(py::none(), threads, false);
        a.Frames = RangeText(frames);
        a.Motion = path.string();
        Job job([file, a](const FrameSink& sink) {
            std::lock_guard<std::mutex> one(MessagesInUse);
            RecordFlow(file, a, sink.StopWhen);
        });
        while (job.Next()) {
        }
    }

    FrameIterator Play(const fs::path& path, py::handle frames, bool reverse, int threads, bool quick) const {
        const FlowFile file = Parsed();
        RenderArgs a = Args(frames, threads, quick);
        a.Motion = path.string();
        a.Reverse = reverse;
        return FrameIterator([file, a](const FrameSink& sink) {
            // The messages are read before the first frame: the next record or
            // play may start then (two playbacks read in turns do not wait on each other).
            std::unique_lock<std::mutex> one(MessagesInUse);
            FrameSink released = sink;
            released.Write = [&](int64_t frame, Image* picture) {
                if (one.owns_lock()) one.unlock();
                sink.Write(frame, picture);
            };
            PlayFlow(file, a, released);
        });
    }

    std::pair<int64_t, int64_t> FrameRange() const {
        const FlowFile f = Parsed();
        return {f.First, f.Last};
    }

private:
    PyFlow(Json doc, std::string name, std::string folder)
        : Doc(std::move(doc)), Name(std::move(name)), Folder(std::move(folder)) {}

    Json Controls() const {
        const auto it = Doc.find("controls");
        return it != Doc.end() && it->is_object() ? *it : Json::object();
    }

    static const ControlInfo& Require(const std::string& key) {
        const ControlCatalog& catalog = Catalog();
        if (const ControlInfo* info = catalog.Find(key)) return *info;
        try {
            catalog.Require(key);
        } catch (const UserError& e) {
            throw py::key_error(e.what());
        }
        throw py::key_error(key);
    }

    // Unknown names are a KeyError, values the tool does not take a ValueError;
    // values limited to a control's range are warned about.
    static void CheckControls(const Json& controls) {
        for (auto it = controls.begin(); it != controls.end(); ++it) Require(it.key());
        std::vector<std::string> warnings;
        try {
            BindControls(controls, Catalog(), &warnings);
        } catch (const UserError& e) {
            throw py::value_error(e.what());
        }
        for (const std::string& w : warnings) PyErr_WarnEx(PyExc_UserWarning, w.c_str(), 1);
    }

    // The flow as the session takes it, with the pictures handed over as arrays.
    FlowFile Parsed() const {
        FlowFile file = ParseFlow(Doc.dump(), Name, Folder);
        if (Background) {
            file.Background.SourceKind = ImageSourceSpec::Kind::Picture;
            file.Background.Picture = Background;
        }
        if (Particle) {
            file.Particle.SourceKind = ImageSourceSpec::Kind::Picture;
            file.Particle.Picture = Particle;
        }
        return file;
    }

    Json Doc;
    std::string Name, Folder;
    std::shared_ptr<const Image> Background, Particle;
};

py::object Inspect(const fs::path& path) { return FromJson(Json::parse(MotionFileJson(ReadMotionFile(path.string())))); }

}  // namespace

PYBIND11_MODULE(lumets, m) {
    m.doc() = "lumets: particle flows, their controls and their frames (NumPy arrays) from Python.";
    m.attr("__version__") = LUMETS_VERSION;
    static py::exception<UserError> error(m, "Error", PyExc_RuntimeError);
    ErrorType = error.ptr();
    error.attr("__doc__") = "A flow, file or render that lumets refuses, with the command line's one-line message.";
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const UserError& e) {
            PyErr_SetString(ErrorType, e.what());
        } catch (const Interrupted& e) {
            PyErr_SetString(PyExc_KeyboardInterrupt, e.what());
        }
    });
    LoadOwnPlugins();

    py::class_<FrameIterator>(m, "FrameIterator", "Frames as they are rendered (numpy.ndarray each).")
        .def("__iter__", [](FrameIterator& it) -> FrameIterator& { return it; })
        .def("__next__", &FrameIterator::Next)
        .def("close", &FrameIterator::Close, "Stops the render (between frames).");

    py::class_<PyFlow>(m, "Flow", "A flow: image inputs, control values and frames, as in a flow file.")
        .def_static("load", &PyFlow::Load, py::arg("path"), "Reads a flow file (JSON).")
        .def_static("from_dict", &PyFlow::FromDict, py::arg("flow"), py::arg("folder") = "",
                    "A flow from a dict laid out as a flow file; relative paths are taken from folder.")
        .def("to_dict", &PyFlow::ToDict, "The flow as a dict laid out as a flow file.")
        .def("save", &PyFlow::Save, py::arg("path"), "Writes the flow file (relative paths rebased).")
        .def("__getitem__", &PyFlow::Get, py::arg("key"))
        .def("__setitem__", &PyFlow::Set, py::arg("key"), py::arg("value"))
        .def("__contains__", &PyFlow::Contains, py::arg("key"))
        .def_property_readonly("frame_range", &PyFlow::FrameRange, "(first, last) frame of the flow.")
        .def(
            "set_background", [](PyFlow& f, py::handle s) { f.SetPicture(true, s); }, py::arg("source"),
            "The background: an image file's path or an array (height, width, 4 or 3) of uint16.")
        .def(
            "set_shape", [](PyFlow& f, py::handle s) { f.SetPicture(false, s); }, py::arg("source"),
            "The particle shape: an image file's path or an array (height, width, 4 or 3) of uint16.")
        .def("render", &PyFlow::Render, py::arg("frame"), py::kw_only(), py::arg("threads") = 0,
             py::arg("quick") = false, "One frame as an array (height, width, 4) of uint16 (R, G, B, A).")
        .def("frames", &PyFlow::Frames, py::arg("frames") = py::none(), py::kw_only(), py::arg("threads") = 0,
             py::arg("quick") = false, "The frames (range, list or text such as \"1-10x2,15\"), in order, as arrays.")
        .def("record", &PyFlow::Record, py::arg("path"), py::arg("frames") = py::none(), py::kw_only(),
             py::arg("threads") = 0, "Records the flow's particles over the frames (A-B) to a .lpd file.")
        .def("play", &PyFlow::Play, py::arg("path"), py::arg("frames") = py::none(), py::arg("reverse") = false,
             py::kw_only(), py::arg("threads") = 0, py::arg("quick") = false,
             "Plays a .lpd recording back: the frames as arrays.");

    m.def("inspect", &Inspect, py::arg("path"), "A motion-data (.lpd) file's frame table and records, as a dict.");
}
