// The Python module: reelmeter.analyse runs one video through the engine as
// the batch tool does and hands its tables and strips to Python. The tables
// are the batch tool's own CSV text parsed, so that they hold the very
// numbers a reader of its files gets.
// Python's headers first: Qt's "slots" macro would break them.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "analysis/videorun.h"
#include "export/colourcsv.h"
#include "export/filename.h"
#include "export/outputs.h"
#include "export/stripexport.h"
#include "video/videoinfo.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <cmath>
#include <exception>
#include <limits>
#include <memory>
#include <optional>
#include <system_error>
#include <tuple>

namespace py = pybind11;

namespace {

// Registered when the module is imported; used only to raise.
py::handle notAVideoError;
py::handle cancelledError;

[[noreturn]] void raise(py::handle type, const QString &message)
{
    PyErr_SetString(type.ptr(), message.toUtf8().constData());
    throw py::error_already_set();
}

// The reasons the reader gives, as the matching OSError subclass (errno,
// reason, file name), else NotAVideoError.
[[noreturn]] void raiseUnread(const QString &why, const py::object &path)
{
    const auto reason = [](int error) {
        return QString::fromStdString(std::generic_category().message(error) + '.');
    };
    for (const auto &[error, type] :
         {std::pair(ENOENT, PyExc_FileNotFoundError), std::pair(EACCES, PyExc_PermissionError),
          std::pair(EPERM, PyExc_PermissionError), std::pair(EISDIR, PyExc_IsADirectoryError)}) {
        if (why == reason(error) || (error == EISDIR && why == QLatin1String("Is a directory."))) {
            const py::tuple arguments = py::make_tuple(error, why.toStdString(), path);
            PyErr_SetObject(type, arguments.ptr());
            throw py::error_already_set();
        }
    }
    raise(notAVideoError, why);
}

// A CSV table (the batch tool's, unquoted) as named NumPy columns: a column
// of whole numbers throughout as int64, other numbers as float64 with NaN for
// an empty field, as pandas reads the file, and words as strings.
py::dict parseTable(const QByteArray &csv)
{
    const QList<QByteArray> lines = csv.split('\n');
    const QList<QByteArray> names = lines.value(0).split(',');
    std::vector<QList<QByteArray>> rows;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (!lines[i].isEmpty())
            rows.push_back(lines[i].split(','));
    }
    std::vector<std::vector<QByteArrayView>> fields(size_t(names.size()));
    for (const QList<QByteArray> &row : rows) {
        for (size_t c = 0; c < fields.size(); ++c)
            fields[c].push_back(c < size_t(row.size()) ? QByteArrayView(row[qsizetype(c)])
                                                       : QByteArrayView());
    }
    py::dict table;
    for (size_t c = 0; c < fields.size(); ++c) {
        const auto &column = fields[c];
        bool whole = true;
        bool number = true;
        for (QByteArrayView field : column) {
            whole = whole && !field.isEmpty() && !field.contains('.');
            double value = 0;
            const auto [end, error] =
                std::from_chars(field.data(), field.data() + field.size(), value);
            number = number && (field.isEmpty() ||
                                (error == std::errc() && end == field.data() + field.size()));
        }
        const py::str name(names[qsizetype(c)].toStdString());
        if (!number) {
            // Words ("cut", "gradual 12"): strings, None where empty.
            py::list values;
            for (QByteArrayView field : column)
                values.append(field.isEmpty()
                                  ? py::object(py::none())
                                  : py::object(py::str(field.toByteArray().toStdString())));
            table[name] = py::module_::import("numpy").attr("array")(values, "object");
        } else if (whole) {
            py::array_t<int64_t> values(py::ssize_t(column.size()));
            auto out = values.mutable_unchecked<1>();
            for (size_t r = 0; r < column.size(); ++r)
                out(py::ssize_t(r)) = column[r].toLongLong();
            table[name] = values;
        } else {
            py::array_t<double> values(py::ssize_t(column.size()));
            auto out = values.mutable_unchecked<1>();
            for (size_t r = 0; r < column.size(); ++r) {
                double value = std::numeric_limits<double>::quiet_NaN();
                const QByteArrayView field = column[r];
                // from_chars rounds correctly and ignores the locale.
                if (!field.isEmpty())
                    std::from_chars(field.data(), field.data() + field.size(), value);
                out(py::ssize_t(r)) = value;
            }
            table[name] = values;
        }
    }
    return table;
}

// A DataFrame when pandas is there, else the dict itself.
py::object frameOf(const py::dict &table)
{
    try {
        return py::module_::import("pandas").attr("DataFrame")(table);
    } catch (const py::error_already_set &error) {
        if (!error.matches(PyExc_ImportError))
            throw;
    }
    return table;
}

// The picture's pixels as rows x columns x RGB.
py::array_t<uint8_t> pixelArray(const QImage &picture)
{
    const QImage image =
        picture.format() == QImage::Format_RGB32 || picture.format() == QImage::Format_ARGB32
            ? picture
            : picture.convertToFormat(QImage::Format_RGB32);
    py::array_t<uint8_t> pixels(
        {py::ssize_t(image.height()), py::ssize_t(image.width()), py::ssize_t(3)});
    auto out = pixels.mutable_unchecked<3>();
    for (int y = 0; y < image.height(); ++y) {
        const QRgb *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            out(y, x, 0) = uint8_t(qRed(row[x]));
            out(y, x, 1) = uint8_t(qGreen(row[x]));
            out(y, x, 2) = uint8_t(qBlue(row[x]));
        }
    }
    return pixels;
}

// One finished analysis: what the engine recorded, kept for the tables and
// strips asked of it.
struct Run {
    AnalysisState state;
    RunResult result;
    bool perceptual = true;
    bool shots = false;
    py::dict info;
    py::object pictures; // parsed once, on first use
    py::object shotTable;

    py::dict picturesArrays()
    {
        if (!pictures) {
            py::dict table = parseTable(coloursCsv(state));
            // Linear means are gathered for the shots too; the table keeps
            // them only when asked for.
            if (!perceptual) {
                for (const char *name : {"L", "a", "b", "chroma", "hue"}) {
                    if (table.contains(name))
                        PyDict_DelItemString(table.ptr(), name);
                }
            }
            pictures = table;
        }
        return pictures.cast<py::dict>();
    }

    py::object shotsFrame()
    {
        if (!shots)
            raise(PyExc_ValueError, QStringLiteral("shots: the shots were not found; pass "
                                                   "shots=True to analyse."));
        if (!shotTable)
            shotTable = parseTable(shotsCsv(result.shots, result.times, result.end));
        return frameOf(shotTable.cast<py::dict>());
    }

    py::array_t<uint8_t> strip(const std::string &name, std::optional<int> width,
                               std::optional<int> height, const std::string &mean)
    {
        const QString text = QString::fromStdString(name);
        const auto kinds = parseStripKinds(text);
        if (!kinds || kinds->size() != 1 || stripName(kinds->first()) != text)
            raise(PyExc_ValueError, QStringLiteral("kind: unknown strip \"%1\": average, "
                                                   "quadrant, brightness, difference, mood, "
                                                   "frames, shots or palette.")
                                        .arg(text));
        const StripKind kind = kinds->first();
        if (mean != "srgb")
            raise(PyExc_ValueError, QStringLiteral("mean: only \"srgb\" is drawn."));
        if ((kind == StripKind::Shots || kind == StripKind::Palette) && !shots)
            raise(PyExc_ValueError, QStringLiteral("kind: the %1 strip needs the shots; pass "
                                                   "shots=True to analyse.")
                                        .arg(text));
        StripLayout layout;
        for (const auto &[argument, value, into] : {std::tuple("width", width, &layout.width),
                                                    std::tuple("height", height, &layout.height)}) {
            if (!value)
                continue;
            if (*value < 1 || *value > largestStripSide)
                raise(PyExc_ValueError, QStringLiteral("%1: a whole number from 1 to %2.")
                                            .arg(argument)
                                            .arg(largestStripSide));
            *into = *value;
        }
        layout.span = {result.times, result.end};
        QString why;
        const QImage image = stripImage(stripOf(state.strips, kind), kind, layout, &why);
        if (image.isNull())
            raise(PyExc_ValueError, why);
        return pixelArray(image);
    }
};

Sampling samplingArgument(const py::object &sample)
{
    std::optional<Sampling> sampling;
    if (py::isinstance<py::str>(sample)) {
        sampling = parseSampling(QString::fromStdString(sample.cast<std::string>()));
    } else if ((py::isinstance<py::int_>(sample) || py::isinstance<py::float_>(sample)) &&
               !py::isinstance<py::bool_>(sample)) {
        const double seconds = sample.cast<double>();
        if (std::isfinite(seconds) && seconds >= Sampling::shortestInterval)
            sampling = Sampling{Sampling::Every, seconds};
    } else {
        throw py::type_error("sample: \"all\", \"key\" or a number of seconds.");
    }
    if (!sampling)
        raise(PyExc_ValueError, QStringLiteral("sample: all, key or a number of seconds of at "
                                               "least %1.")
                                    .arg(Sampling::shortestInterval));
    return *sampling;
}

Crop cropArgument(const py::object &crop)
{
    QString text;
    if (py::isinstance<py::str>(crop)) {
        text = QString::fromStdString(crop.cast<std::string>());
    } else if (py::isinstance<py::tuple>(crop) || py::isinstance<py::list>(crop)) {
        const py::sequence values = crop.cast<py::sequence>();
        QStringList parts;
        for (const py::handle value : values) {
            if (!py::isinstance<py::int_>(value) || py::isinstance<py::bool_>(value))
                throw py::type_error("crop: (w, h, x, y) takes whole numbers.");
            parts << QString::fromStdString(py::str(value).cast<std::string>());
        }
        text = values.size() == 4 ? parts.join(QLatin1Char(':')) : QString();
    } else {
        throw py::type_error("crop: \"none\", \"auto\" or (w, h, x, y).");
    }
    const std::optional<Crop> parsed = parseCrop(text);
    if (!parsed)
        raise(PyExc_ValueError, QStringLiteral("crop: none, auto or (w, h, x, y), whole numbers "
                                               "with width and height at least 1."));
    return *parsed;
}

py::dict infoOf(const VideoInfo &video, const QRect &crop)
{
    py::dict info;
    info["width"] = video.width;
    info["height"] = video.height;
    info["duration"] = video.duration >= 0 ? py::object(py::float_(video.duration)) : py::none();
    info["frame_rate"] = video.frameRate > 0 ? py::object(py::float_(video.frameRate)) : py::none();
    info["codec"] = video.codec;
    info["transfer"] = video.transfer.empty() ? py::object(py::none()) : py::str(video.transfer);
    info["hdr"] = video.hdr;
    info["rotation"] = video.rotation;
    info["crop"] =
        crop.isNull() ? py::object(py::none())
                      : py::object(py::make_tuple(crop.width(), crop.height(), crop.x(), crop.y()));
    return info;
}

std::unique_ptr<Run> analyse(const py::object &path, const py::object &sample,
                             const py::object &crop, bool shots, bool perceptual, int64_t maxPixels,
                             const py::object &progress, const std::string &colour, int posterWidth)
{
    // os.fsencode: str or bytes or any path-like, to the bytes the file
    // system holds.
    const py::bytes encoded = py::module_::import("os").attr("fsencode")(path);
    const QString fileName = fileNameFromBytes(QByteArrayView(std::string_view(encoded)));
    if (maxPixels < 1 || maxPixels > INT_MAX)
        raise(PyExc_ValueError,
              QStringLiteral("max_pixels: a whole number from 1 to %1.").arg(INT_MAX));
    if (posterWidth < 0 || posterWidth > largestStripSide)
        raise(PyExc_ValueError,
              QStringLiteral("poster_width: a whole number from 0 to %1.").arg(largestStripSide));
    if (!progress.is_none() && !PyCallable_Check(progress.ptr()))
        throw py::type_error("progress: a function of (fraction, pictures), or None.");

    OutputChoice choice;
    choice.kinds = {StripKind::Average,    StripKind::Quadrant, StripKind::Brightness,
                    StripKind::Difference, StripKind::Mood,     StripKind::Frames};
    if (shots)
        choice.kinds << StripKind::Shots << StripKind::Palette;
    choice.colours = true;
    choice.shots = shots;
    choice.sampling = samplingArgument(sample);
    choice.crop = cropArgument(crop);
    const std::optional<ColourConversion> conversion =
        parseColourConversion(QString::fromStdString(colour));
    if (!conversion)
        raise(PyExc_ValueError, QStringLiteral("colour: default or exact."));
    choice.colour = *conversion;
    RunOptions options = runOptionsFor(choice);
    options.maxPixels = maxPixels;
    options.perceptual = perceptual || shots; // the shots' L*a*b* come from them
    options.keepHistories = false;
    options.reserveAhead = true;
    // Sampled as reelmeter-batch --width samples: at the columns' middles.
    options.sampleColumns = posterWidth;

    auto run = std::make_unique<Run>();
    run->perceptual = perceptual;
    run->shots = shots;
    QString why;
    bool refused = false;
    std::unique_ptr<VideoRun> video;
    {
        py::gil_scoped_release released;
        video = VideoRun::open(fileName, options, run->state, &why, &refused);
    }
    if (!video) {
        if (refused)
            raise(PyExc_ValueError, QStringLiteral("crop: ") + why);
        raiseUnread(why, path);
    }
    const VideoInfo video_info = videoInfo(video->source());

    // Python is called only between steps, at most every 100 ms: for the
    // progress and for Ctrl+C, which the main thread's signal handler notes.
    std::exception_ptr failure;
    bool cancelled = false;
    VideoRun::Step step = VideoRun::Step::End;
    {
        py::gil_scoped_release released;
        step = video->runToEnd([&](const ReadProgress &reached) {
            py::gil_scoped_acquire acquired;
            try {
                if (PyErr_CheckSignals() != 0)
                    throw py::error_already_set();
                if (!progress.is_none()) {
                    const py::object fraction = reached.fraction >= 0
                                                    ? py::object(py::float_(reached.fraction))
                                                    : py::none();
                    const py::object answer = progress(fraction, reached.pictures);
                    cancelled = answer.is(py::bool_(false));
                }
            } catch (...) {
                failure = std::current_exception();
            }
            return !failure && !cancelled;
        });
    }
    if (failure)
        std::rethrow_exception(failure);
    if (cancelled)
        raise(cancelledError, QStringLiteral("The analysis was cancelled."));
    if (step == VideoRun::Step::Refused)
        raise(PyExc_ValueError, QStringLiteral("sample: ") + video->refusal());
    if (run->state.frameCount == 0)
        raise(notAVideoError, QStringLiteral("No picture could be decoded."));
    run->result = video->finish();
    video.reset();
    run->info = infoOf(video_info, run->result.crop);
    run->info["pictures"] = int64_t(run->state.frameCount);
    return run;
}

} // namespace

PYBIND11_MODULE(reelmeter, module)
{
    module.doc() = "Colour strips and colour tables of videos, measured picture by picture.";
    // A notebook shows the reasons raised, not FFmpeg's own lines.
    quietVideoLibraries(true);
    notAVideoError = py::exception<void>(module, "NotAVideoError", PyExc_Exception).release();
    cancelledError = py::exception<void>(module, "CancelledError", PyExc_Exception).release();

    py::class_<Run>(module, "Run", "One analysed video.")
        .def_property_readonly(
            "pictures", [](Run &run) { return frameOf(run.picturesArrays()); },
            "One row per measured picture: the columns of reelmeter-batch --csv.")
        .def("pictures_arrays", &Run::picturesArrays,
             "The pictures table as a dict of NumPy arrays.")
        .def_property_readonly("shots", &Run::shotsFrame,
                               "One row per shot: the columns of reelmeter-batch --shots.")
        .def_property_readonly("info", [](const Run &run) { return run.info; })
        .def("strip", &Run::strip, py::arg("kind"), py::arg("width") = py::none(),
             py::arg("height") = py::none(), py::arg("mean") = "srgb",
             "A strip as height x width x 3 uint8, the pixels reelmeter-batch writes.");

    module.def("analyse", &analyse, py::arg("path"), py::arg("sample") = "all",
               py::arg("crop") = "none", py::arg("shots") = false, py::arg("perceptual") = true,
               py::arg("max_pixels") = defaultMaxPixels, py::arg("progress") = py::none(),
               py::arg("colour") = "default", py::arg("poster_width") = 0,
               "Reads a video picture by picture and measures its colours.");
}
