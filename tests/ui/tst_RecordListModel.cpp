#include "processes/ProcessInfoData.h"
#include "ui/RecordListModel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

namespace {
ProcessInfoData row(int pid, double cpu, const QString &name = {})
{
    ProcessInfoData r;
    r.id = pid;
    r.name = name.isEmpty() ? QStringLiteral("p%1").arg(pid) : name;
    r.cpuUsage = cpu;
    return r;
}

QList<int> ids(const RecordListModel<ProcessInfoData> &model)
{
    QList<int> list;
    for (const ProcessInfoData &r : model.rows())
        list.append(r.id);
    return list;
}
}

class TestRecordListModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rolesAreTheRecordsFields()
    {
        RecordListModel<ProcessInfoData> model;
        model.apply({row(7, 12.5, "clang")});
        const QHash<int, QByteArray> roles = model.roleNames();
        const int name = roles.key("name"), cpu = roles.key("cpuUsage");
        QVERIFY(roles.values().contains("id"));
        QVERIFY(roles.values().contains("memoryBytes"));
        QCOMPARE(model.data(model.index(0), name).toString(), QStringLiteral("clang"));
        QCOMPARE(model.data(model.index(0), cpu).toDouble(), 12.5);
        QVERIFY(!model.data(model.index(1), name).isValid());   // past the end
        QVERIFY(!model.data(model.index(0), Qt::UserRole + 500).isValid());
    }

    // One changed field is one dataChanged for that row and that role; an unchanged list
    // says nothing at all.
    void changedFieldsOnly()
    {
        RecordListModel<ProcessInfoData> model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.apply({row(1, 10), row(2, 20), row(3, 30)});
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy count(&model, &RecordListModelBase::countChanged);
        QSignalSpy reordered(&model, &RecordListModelBase::reordered);

        model.apply({row(1, 10), row(2, 25), row(3, 30)});
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed[0][0].toModelIndex().row(), 1);
        QCOMPARE(changed[0][1].toModelIndex().row(), 1);
        QCOMPARE(changed[0][2].value<QList<int>>(), QList<int>{model.roleNames().key("cpuUsage")});
        model.apply({row(1, 10), row(2, 25), row(3, 30)});
        QCOMPARE(changed.count(), 1);
        QCOMPARE(inserted.count() + removed.count() + count.count() + reordered.count(), 0);
    }

    // Rows come, go and change places; the model ends equal to the list every time, and
    // rows that stayed are moved rather than removed and inserted again.
    void insertsRemovesAndMoves_data()
    {
        QTest::addColumn<QList<int>>("from");
        QTest::addColumn<QList<int>>("to");
        QTest::addColumn<int>("insertions");
        QTest::addColumn<int>("removals");
        QTest::newRow("empty to three") << QList<int>{} << QList<int>{1, 2, 3} << 3 << 0;
        QTest::newRow("three to empty") << QList<int>{1, 2, 3} << QList<int>{} << 0 << 3;
        QTest::newRow("one goes from the middle") << QList<int>{1, 2, 3} << QList<int>{1, 3} << 0 << 1;
        QTest::newRow("one comes on top") << QList<int>{1, 2, 3} << QList<int>{9, 1, 2, 3} << 1 << 0;
        QTest::newRow("reversed") << QList<int>{1, 2, 3, 4} << QList<int>{4, 3, 2, 1} << 0 << 0;
        QTest::newRow("mixed") << QList<int>{1, 2, 3, 4, 5} << QList<int>{5, 6, 2, 7, 1} << 2 << 2;
    }
    void insertsRemovesAndMoves()
    {
        QFETCH(QList<int>, from);
        QFETCH(QList<int>, to);
        QFETCH(int, insertions);
        QFETCH(int, removals);
        const auto records = [](const QList<int> &pids) {
            QList<ProcessInfoData> list;
            for (int pid : pids)
                list.append(row(pid, pid));
            return list;
        };
        RecordListModel<ProcessInfoData> model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.apply(records(from));
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        QSignalSpy count(&model, &RecordListModelBase::countChanged);
        QSignalSpy reordered(&model, &RecordListModelBase::reordered);
        model.apply(records(to));
        QCOMPARE(ids(model), to);
        QCOMPARE(model.count(), to.size());
        QCOMPARE(inserted.count(), insertions);
        QCOMPARE(removed.count(), removals);
        QCOMPARE(reset.count(), 0);
        QCOMPARE(count.count(), from.size() == to.size() ? 0 : 1);
        QCOMPARE(reordered.count(), 1);   // once, however many rows went where
        model.apply(records(to));
        QCOMPARE(reordered.count(), 1);
    }

    // Two rows with one id (a source's mistake) must not crash or lose a row.
    void repeatedIdsAreKept()
    {
        RecordListModel<ProcessInfoData> model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.apply({row(1, 1), row(1, 2), row(2, 3)});
        QCOMPARE(model.count(), 3);
        model.apply({row(2, 3), row(1, 5)});
        QCOMPARE(ids(model), (QList<int>{2, 1}));
        QCOMPARE(model.rows().last().cpuUsage, 5.0);
    }
};

QTEST_GUILESS_MAIN(TestRecordListModel)
#include "tst_RecordListModel.moc"
