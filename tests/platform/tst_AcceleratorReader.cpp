#include "platform/AcceleratorReader.h"
#include "platform/NvmlLibrary.h"
#include "support/FixtureTree.h"

#include <QTest>

#include <filesystem>
#include <memory>

namespace {
// A DRM card as the kernel lays it out: card<N>/device is the PCI function, whose
// `driver` link ends in the driver's name.
void writeCard(const FixtureTree &tree, const QString &card, const char *driver, const QByteArray &vendor,
               const QByteArray &device = "0x1234\n")
{
    const QString base = "sys/class/drm/" + card + "/device/";
    tree.write(base + "vendor", vendor);
    tree.write(base + "device", device);
    std::filesystem::create_symlink(std::string("../../../bus/pci/drivers/") + driver,
                                    tree.root(base + "driver"));
}

void writeAccel(const FixtureTree &tree, const QString &node, const char *driver)
{
    const QString base = "sys/class/accel/" + node + "/device/";
    tree.mkdir(base);
    std::filesystem::create_symlink(std::string("../../../bus/pci/drivers/") + driver, tree.root(base + "driver"));
}
}

class TestAcceleratorReader : public QObject
{
    Q_OBJECT

    std::unique_ptr<FixtureTree> tree;

    AcceleratorReader reader() const
    {
        AcceleratorPaths paths;
        paths.devRoot = tree->root("dev");
        paths.vulkanIcdDirs = {tree->root("usr/share/vulkan/icd.d"), tree->root("etc/vulkan/icd.d")};
        return AcceleratorReader(tree->root("sys"), paths);
    }

    std::string stackOfPrimary() const
    {
        const AcceleratorReader r = reader();
        return r.computeStack(AcceleratorReader::primary(r.gpus()));
    }

private Q_SLOTS:
    void init()
    {
        tree = std::make_unique<FixtureTree>();
        tree->mkdir("sys/class/drm");
        tree->mkdir("dev");
    }
    void cleanup() { tree.reset(); }

    void nvidiaCardRunsCuda()
    {
        writeCard(*tree, "card0", "nvidia", "0x10de\n", "0x2786\n");
        const std::vector<GpuDevice> gpus = reader().gpus();
        QCOMPARE(gpus.size(), size_t(1));
        QCOMPARE(gpus[0].card, std::string("card0"));
        QCOMPARE(gpus[0].driver, std::string("nvidia"));
        QCOMPARE(gpus[0].vendorId, 0x10deu);
        QCOMPARE(gpus[0].deviceId, 0x2786u);
        // Without NVML the card is named by its maker and driver, and nothing counts its cores.
        QCOMPARE(gpus[0].name, std::string("NVIDIA GPU (nvidia)"));
        QVERIFY(!gpus[0].coreCount);

        // The driver's control node or its loaded module both mean CUDA can run.
        QCOMPARE(stackOfPrimary(), std::string());
        tree->write("dev/nvidiactl", "");
        QCOMPARE(stackOfPrimary(), std::string("CUDA"));
        tree->remove("dev/nvidiactl");
        tree->mkdir("sys/module/nvidia");
        QCOMPARE(stackOfPrimary(), std::string("CUDA"));
    }

    void nvidiaNamedByNvml()
    {
        writeCard(*tree, "card0", "i915", "0x8086\n");
        writeCard(*tree, "card1", "nvidia", "0x10de\n");
        const NvmlLibrary nvml(FAKE_NVML_PATH);
        QVERIFY(nvml.available());
        QCOMPARE(nvml.name(), std::string("NVIDIA GeForce RTX 4070"));
        QCOMPARE(nvml.coreCount().value_or(0), 5888u);

        const std::vector<GpuDevice> gpus = reader().gpus(&nvml);
        QCOMPARE(gpus.size(), size_t(2));
        // NVML speaks for the NVIDIA card only.
        QCOMPARE(gpus[0].name, std::string("Intel GPU (i915)"));
        QVERIFY(!gpus[0].coreCount);
        QCOMPARE(gpus[1].name, std::string("NVIDIA GeForce RTX 4070"));
        QCOMPARE(gpus[1].coreCount.value_or(0), 5888u);

        // A driver from before the core count existed still names the card.
        const NvmlLibrary legacy(FAKE_NVML_LEGACY_PATH);
        QVERIFY(legacy.available());
        QVERIFY(!legacy.coreCount());
        const std::vector<GpuDevice> older = reader().gpus(&legacy);
        QCOMPARE(older[1].name, std::string("NVIDIA GeForce RTX 4070"));
        QVERIFY(!older[1].coreCount);

        const NvmlLibrary missing("/nonexistent/libnvidia-ml.so.1");
        QCOMPARE(missing.name(), std::string());
        QVERIFY(!missing.coreCount());
        QCOMPARE(reader().gpus(&missing)[1].name, std::string("NVIDIA GPU (nvidia)"));
    }

    void amdgpuWithComputeNodeRunsRocm()
    {
        writeCard(*tree, "card0", "amdgpu", "0x1002\n", "0x744c\n");
        tree->write("sys/class/drm/card0/device/label", "PCIe Slot 1 Radeon\n");
        QCOMPARE(reader().gpus()[0].name, std::string("PCIe Slot 1 Radeon"));
        tree->write("usr/share/vulkan/icd.d/radeon_icd.x86_64.json", "{}");
        // Without kfd the card still runs Vulkan compute; with it, ROCm comes first.
        QCOMPARE(stackOfPrimary(), std::string("Vulkan"));
        tree->write("dev/kfd", "");
        QCOMPARE(stackOfPrimary(), std::string("ROCm"));

        // No label: amdgpu's board name, then maker and driver.
        tree->remove("sys/class/drm/card0/device/label");
        tree->write("sys/class/drm/card0/device/product_name", "Radeon RX 7900 XTX\n");
        QCOMPARE(reader().gpus()[0].name, std::string("Radeon RX 7900 XTX"));
        tree->remove("sys/class/drm/card0/device/product_name");
        QCOMPARE(reader().gpus()[0].name, std::string("AMD GPU (amdgpu)"));
    }

    void integratedIntelRunsVulkan()
    {
        writeCard(*tree, "card0", "i915", "0x8086\n");
        tree->write("dev/kfd", "");   // another vendor's node says nothing about this card
        QCOMPARE(stackOfPrimary(), std::string());
        // lavapipe is Vulkan on the CPU, not on this GPU.
        tree->write("usr/share/vulkan/icd.d/lvp_icd.x86_64.json", "{}");
        tree->write("etc/vulkan/icd.d/README", "not a manifest");
        QCOMPARE(stackOfPrimary(), std::string());
        tree->write("etc/vulkan/icd.d/intel_icd.x86_64.json", "{}");
        QCOMPARE(stackOfPrimary(), std::string("Vulkan"));
        QCOMPARE(reader().gpus()[0].name, std::string("Intel GPU (i915)"));
    }

    void noCardNoGpu()
    {
        tree->write("usr/share/vulkan/icd.d/intel_icd.x86_64.json", "{}");
        const AcceleratorReader r = reader();
        QVERIFY(r.gpus().empty());
        QVERIFY(!AcceleratorReader::primary(r.gpus()));
        QCOMPARE(r.computeStack(std::nullopt), std::string());

        // Nor is anything found where the class folder itself is missing.
        tree->mkdir("empty");
        QVERIFY(AcceleratorReader(tree->root("empty")).gpus().empty());
    }

    void discreteGpuPreferred()
    {
        writeCard(*tree, "card0", "i915", "0x8086\n");
        writeCard(*tree, "card1", "amdgpu", "0x1002\n");
        QCOMPARE(AcceleratorReader::primary(reader().gpus())->driver, std::string("amdgpu"));
        // On a hybrid AMD laptop the NVIDIA card is the discrete one.
        writeCard(*tree, "card2", "nvidia", "0x10de\n");
        QCOMPARE(AcceleratorReader::primary(reader().gpus())->card, std::string("card2"));
    }

    void cardsInNumberOrder()
    {
        // card10 sorts before card2 as text; of two alike the lower number is shown.
        writeCard(*tree, "card10", "xe", "0x8086\n");
        writeCard(*tree, "card2", "i915", "0x8086\n");
        const std::vector<GpuDevice> gpus = reader().gpus();
        QCOMPARE(gpus.size(), size_t(2));
        QCOMPARE(gpus[0].card, std::string("card2"));
        QCOMPARE(AcceleratorReader::primary(gpus)->card, std::string("card2"));
    }

    void connectorsAndFramebuffersIgnored()
    {
        writeCard(*tree, "card0", "simple-framebuffer", "");
        writeCard(*tree, "card1", "virtio_gpu", "0x1af4\n");
        // Connectors and render nodes sit beside the cards; give them a driver link too so
        // only their names can keep them out.
        writeCard(*tree, "card1-Virtual-1", "virtio_gpu", "0x1af4\n");
        writeCard(*tree, "card1-HDMI-A-1", "amdgpu", "0x1002\n");
        writeCard(*tree, "renderD128", "virtio_gpu", "0x1af4\n");
        tree->mkdir("sys/class/drm/card3");   // no device at all (vkms-like)
        const std::vector<GpuDevice> gpus = reader().gpus();
        QCOMPARE(gpus.size(), size_t(1));
        QCOMPARE(gpus[0].card, std::string("card1"));
        QCOMPARE(gpus[0].name, std::string("Virtio GPU (virtio_gpu)"));
    }

    void unknownVendorNamedByDriver()
    {
        writeCard(*tree, "card0", "panfrost", "");
        const GpuDevice gpu = reader().gpus().at(0);
        QCOMPARE(gpu.vendorId, 0u);
        QCOMPARE(gpu.name, std::string("GPU (panfrost)"));
        QCOMPARE(AcceleratorReader::vendorName(0x10de), std::string("NVIDIA"));
        QCOMPARE(AcceleratorReader::vendorName(0x1002), std::string("AMD"));
        QCOMPARE(AcceleratorReader::vendorName(0x8086), std::string("Intel"));
        QCOMPARE(AcceleratorReader::vendorName(0xffff), std::string());
    }

    void npuFromAccelClass()
    {
        QVERIFY(!reader().npu());

        writeAccel(*tree, "accel1", "amdxdna");
        writeAccel(*tree, "accel0", "intel_vpu");
        tree->write("sys/class/accel/accel0/device/npu_busy_time_us", "123456789\n");
        const std::optional<NpuDevice> npu = reader().npu();
        QVERIFY(npu);
        QCOMPARE(npu->node, std::string("accel0"));
        QCOMPARE(npu->driver, std::string("intel_vpu"));
        QCOMPARE(npu->name, std::string("Intel NPU"));
        std::string buffer;
        QCOMPARE(AcceleratorReader::readBusyTime(npu->busyTimePath, buffer).value_or(0), 123456789ull);
        tree->write("sys/class/accel/accel0/device/npu_busy_time_us", "123999999\n");
        QCOMPARE(AcceleratorReader::readBusyTime(npu->busyTimePath, buffer).value_or(0), 123999999ull);
        tree->write("sys/class/accel/accel0/device/npu_busy_time_us", "busy\n");
        QVERIFY(!AcceleratorReader::readBusyTime(npu->busyTimePath, buffer));
        QVERIFY(!AcceleratorReader::readBusyTime({}, buffer));

        // A driver without the counter: named, with nothing to measure.
        std::filesystem::remove_all(tree->root("sys/class/accel/accel0"));
        const std::optional<NpuDevice> xdna = reader().npu();
        QVERIFY(xdna);
        QCOMPARE(xdna->name, std::string("AMD XDNA NPU"));
        QVERIFY(xdna->busyTimePath.empty());

        std::filesystem::remove_all(tree->root("sys/class/accel/accel1"));
        writeAccel(*tree, "accel2", "qaic");
        QCOMPARE(reader().npu()->name, std::string("qaic NPU"));
    }
};

QTEST_GUILESS_MAIN(TestAcceleratorReader)
#include "tst_AcceleratorReader.moc"
