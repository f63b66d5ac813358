#include "undo-controller.h"

#include "undo-records.h"

#include "value/interface.h"

#include <QUndoCommand>

namespace zya {

namespace {
UndoController* s_instance = nullptr;
bool s_exitHookSet = false;
} // namespace

namespace {
quint64 s_generation = 0;
} // namespace

UndoController::UndoController() {
    connect(&stack, &QUndoStack::canUndoChanged, this, &UndoController::sig_canUndo);
    connect(&stack, &QUndoStack::canRedoChanged, this, &UndoController::sig_canRedo);
    connect(&stack, &QUndoStack::indexChanged, this, [] { ++s_generation; });
    connect(&stack, &QUndoStack::cleanChanged, this, [] { ++s_generation; });
}

quint64 UndoController::generation() { return s_generation; }

UndoController::~UndoController() {
    delete m_sequence;
    m_sequence = nullptr;
}

UndoController* UndoController::instance() {
    if (!s_instance) {
        s_instance = new UndoController;
        if (!s_exitHookSet) {
            // Removed objects belong to the history: free them at process end too.
            s_exitHookSet = true;
            bg::atExit([] { UndoController::destroyInstance(); });
        }
    }
    return s_instance;
}

void UndoController::destroyInstance() {
    if (!s_instance)
        return;
    // Records delete what they own; an object's destructor may still ask for
    // the controller, so it stays the instance until the history is empty.
    delete s_instance->m_sequence;
    s_instance->m_sequence = nullptr;
    s_instance->m_sequenceDepth = 0;
    s_instance->stack.clear();
    UndoController* dying = s_instance;
    s_instance = nullptr;
    delete dying;
}

void UndoController::beginMergeSequence(const QString& name) {
    if (m_sequenceDepth++ == 0) {
        m_sequence = new QUndoCommand(name);
    }
}

void UndoController::endMergeSequence() {
    if (m_sequenceDepth == 0) {
        LOGW("endMergeSequence without a sequence");
        return;
    }
    if (--m_sequenceDepth > 0)
        return;
    QUndoCommand* step = m_sequence;
    m_sequence = nullptr;
    if (step->childCount() == 0) {
        delete step;
        return;
    }
    stack.push(step);
}

QUndoCommand* UndoController::sequenceStep() const { return m_sequence; }

void UndoController::record(QUndoCommand* command) {
    // Records are made with sequenceStep() as their parent: inside a sequence
    // the record is already a child of the sequence's step.
    if (!m_sequence)
        stack.push(command);
}

bool UndoController::isClean() const { return stack.isClean(); }

void UndoController::setClean() { stack.setClean(); }

void UndoController::setModified() {
    ++s_generation;
    stack.resetClean();
}

void UndoController::endTyping() {
    if (stack.index() == 0)
        return;
    // QUndoStack hands out its commands as const; the record is ours.
    if (auto* last = dynamic_cast<ValueRecord*>(const_cast<QUndoCommand*>(stack.command(stack.index() - 1))))
        last->endTyping();
}

void UndoController::reset() {
    if (m_sequenceDepth > 0) {
        LOGW("undo history reset inside the merge sequence %s", qUtf8Printable(m_sequence->text()));
        delete m_sequence;
        m_sequence = nullptr;
        m_sequenceDepth = 0;
    }
    stack.clear();
}

} // namespace zya
