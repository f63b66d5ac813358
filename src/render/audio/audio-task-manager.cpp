#include "audio-task-manager.h"

#include "render/audio/audio-decoder-task.h"

#include <algorithm>

AudioTaskManager::~AudioTaskManager() {
    qDeleteAll(m_tasks);
}

void AudioTaskManager::mix(QList<AudioFrameData> sounds) {
    QList<AudioDecoderTask*> kept;
    kept.reserve(m_tasks.size());
    for (AudioDecoderTask* task : m_tasks) {
        auto it = std::find_if(sounds.begin(), sounds.end(),
                               [task](const AudioFrameData& s) { return s.path == task->path(); });
        if (it == sounds.end()) {
            delete task;
            continue;
        }
        task->decodeInto(it->num, it->den, it->volume);
        sounds.erase(it);
        kept.append(task);
    }
    for (const AudioFrameData& s : sounds) {
        auto* task = new AudioDecoderTask(s.path);
        kept.append(task);
        task->decodeInto(s.num, s.den, s.volume);
    }
    m_tasks = kept;
}
