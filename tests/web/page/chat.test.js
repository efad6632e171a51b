// The desktop chat's reading of downstream messages: names by index, the
// notices each type shows, a remark in its sender's colour, size and face,
// fields beyond the third dropped, indices outside the member tables ignored.

import { test } from 'node:test';
import assert from 'node:assert/strict';

import { Chat, notice, remark } from '../../../server/web/page/chat.js';

test('messages show what the desktop chat shows', () => {
  const chat = new Chat();
  const shown = (message) => chat.receive(message);
  assert.deepEqual(shown('3<:>5<:>taro'), []); // a name only
  assert.deepEqual(shown('3<:>6<:>255'), []);
  assert.deepEqual(shown('3<:>7<:>14'), []);
  assert.deepEqual(shown('3<:>8<:>1'), []);
  assert.deepEqual(shown('3<:>2<:>hello<:>cut here'), [notice('taro の発言 :'), remark('hello', 255, 14, 1)]);
  assert.deepEqual(shown('3<:>3<:>jiro'), [notice('taro は jiro に名前変更しました')]);
  assert.deepEqual(shown('3<:>9<:>nine'), []);
  assert.deepEqual(shown('3<:>2'), []); // fewer than three fields
  assert.deepEqual(shown('25<:>1<:>outside'), []);
  assert.deepEqual(shown('-1<:>1<:>outside'), []);
  assert.deepEqual(shown('4<:>1<:>  hanako '), [notice('  hanako  さんが入室しました')]);
  assert.deepEqual(shown('0<:>4<:>taro\r\nhanako\r\n'), [
    notice('\r\n現在のメンバ : \r\ntaro\r\nhanako\r\n'),
  ]);
  assert.deepEqual(shown('3<:>0<:>2'), [notice('jiro さんが退室しました')]);
  assert.deepEqual(shown('x<:>2<:>index 0'), [notice(' の発言 :'), remark('index 0', 0, 0, 0)]);
  assert.deepEqual(shown('3<:>6<:>99999999999'), []); // a colour that does not fit is not taken
  assert.equal(shown('3<:>2<:>again')[1].colour, 255);
});
