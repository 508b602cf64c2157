// Drives Ollama's own JavaScript client against a server: `rounds` times, a chat and a
// generation for each of the two models, each once whole and once streamed, one after
// another from one client, as an application would. Prints what the client itself read
// from each reply's last object, summed per model, as one JSON line.
//
//   node ollama-calls.mjs PORT ROUNDS
import { Ollama } from 'ollama'

const [port, rounds] = process.argv.slice(2).map(Number)
const ollama = new Ollama({ host: `http://127.0.0.1:${port}` })
const seen = {}

function note(last) {
  const row = (seen[last.model] ??= { requests: 0, promptTokens: 0, generatedTokens: 0, evalNs: 0 })
  row.requests += 1
  row.promptTokens += last.prompt_eval_count
  row.generatedTokens += last.eval_count
  row.evalNs += last.eval_duration
}

async function lastOf(stream) {
  let last
  for await (const part of stream) last = part
  return last
}

const messages = [{ role: 'user', content: 'Why is the sky blue?' }]
for (let i = 0; i < rounds; ++i) {
  note(await ollama.chat({ model: 'alpha:7b', messages, stream: false }))
  note(await lastOf(await ollama.chat({ model: 'alpha:7b', messages, stream: true })))
  note(await ollama.generate({ model: 'beta:2b', prompt: 'Count to ten.', stream: false }))
  note(await lastOf(await ollama.generate({ model: 'beta:2b', prompt: 'Count to ten.', stream: true })))
}
console.log(JSON.stringify(seen))
