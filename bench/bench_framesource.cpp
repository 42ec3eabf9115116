// Pictures per second through readFrame beside the plain FFmpeg loop it wraps
// (same decoder threads, same bicubic conversion to RGB32), over one 1080p
// H.264 file made with Debian's ffmpeg tool. readFrame should stay within 5%.
//
//   bench_framesource [--video=FILE] [Google Benchmark options]
#include "video/ffmpegptr.h"
#include "video/framesource.h"

#include <QByteArray>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

extern "C" {
#include <libavutil/imgutils.h>
}

namespace {

QByteArray videoPath;

void readFrameLoop(benchmark::State &state)
{
    int64_t pictures = 0;
    for (auto _ : state) {
        FrameSourcePtr source = openFrameSource(videoPath.constData());
        if (!source) {
            state.SkipWithError("openFrameSource failed");
            return;
        }
        FrameStatus status;
        while ((status = readFrame(source.get())) != EndOfStream)
            pictures += status == FrameReady;
        benchmark::DoNotOptimize(outputPixels(source.get())[0]);
    }
    state.counters["pictures/s"] =
        benchmark::Counter(double(pictures), benchmark::Counter::kIsRate);
}

// The loop as FFmpeg's own examples write it, with nothing around it.
bool plainPass(int64_t &pictures)
{
    AVFormatInputPtr container = openInput(videoPath.constData());
    if (!container || avformat_find_stream_info(container.get(), nullptr) < 0)
        return false;
    const int stream = av_find_best_stream(container.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (stream < 0)
        return false;
    const AVCodecParameters *parameters = container->streams[stream]->codecpar;
    const AVCodec *codec = avcodec_find_decoder(parameters->codec_id);
    if (!codec)
        return false;
    AVCodecContextPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), parameters) < 0)
        return false;
    decoder->thread_count = decoderThreadCount();
    decoder->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0)
        return false;

    const int width = decoder->width, height = decoder->height;
    const int size = av_image_get_buffer_size(AV_PIX_FMT_RGB32, width, height, 1);
    AVBufferPtr buffer(static_cast<uint8_t *>(av_malloc(size)));
    AVPacketPtr packet(av_packet_alloc());
    AVFramePtr frame(av_frame_alloc());
    SwsContextPtr scaler(sws_getContext(width, height, decoder->pix_fmt, width, height,
                                        AV_PIX_FMT_RGB32, SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!buffer || !packet || !frame || !scaler)
        return false;
    uint8_t *planes[4];
    int strides[4];
    av_image_fill_arrays(planes, strides, buffer.get(), AV_PIX_FMT_RGB32, width, height, 1);

    auto receiveAll = [&] {
        while (avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
            sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, planes,
                      strides);
            av_frame_unref(frame.get());
            ++pictures;
        }
    };
    while (av_read_frame(container.get(), packet.get()) >= 0) {
        if (packet->stream_index == stream) {
            avcodec_send_packet(decoder.get(), packet.get());
            receiveAll();
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(decoder.get(), nullptr);
    receiveAll();
    benchmark::DoNotOptimize(buffer.get()[0]);
    return true;
}

void plainLoop(benchmark::State &state)
{
    int64_t pictures = 0;
    for (auto _ : state) {
        if (!plainPass(pictures)) {
            state.SkipWithError("plain decode loop failed");
            return;
        }
    }
    state.counters["pictures/s"] =
        benchmark::Counter(double(pictures), benchmark::Counter::kIsRate);
}

bool makeVideo(const QString &path)
{
    // testsrc2 moves in every picture; veryfast keeps B-frames (3) and CABAC.
    const QStringList arguments = {"-hide_banner",
                                   "-loglevel",
                                   "error",
                                   "-y",
                                   "-f",
                                   "lavfi",
                                   "-i",
                                   "testsrc2=size=1920x1080:rate=30",
                                   "-frames:v",
                                   "300",
                                   "-c:v",
                                   "libx264",
                                   "-preset",
                                   "veryfast",
                                   "-pix_fmt",
                                   "yuv420p",
                                   path};
    return QProcess::execute("ffmpeg", arguments) == 0;
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir dir;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--video=", 8) == 0) {
            videoPath = argv[i] + 8;
            std::memmove(argv + i, argv + i + 1, sizeof *argv * (argc - i));
            --argc;
            --i;
        }
    }
    if (videoPath.isEmpty()) {
        const QString path = dir.filePath("bench-1080p.mp4");
        std::fprintf(stderr, "making %s with ffmpeg...\n", qPrintable(path));
        if (!dir.isValid() || !makeVideo(path)) {
            std::fprintf(stderr, "could not make the test video\n");
            return 1;
        }
        videoPath = path.toLocal8Bit();
    }

    // Several short repetitions of each; on a shared machine add
    // --benchmark_enable_random_interleaving=true so load hits both alike.
    benchmark::RegisterBenchmark("plainLoop", plainLoop)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(2)
        ->Repetitions(4)
        ->ReportAggregatesOnly(false);
    benchmark::RegisterBenchmark("readFrame", readFrameLoop)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(2)
        ->Repetitions(4)
        ->ReportAggregatesOnly(false);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
